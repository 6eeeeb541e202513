// What the next ingestion would call the first image of a card: the master preset's folder
// and name specifications expanded for that image the way naming expands them, with the next
// starting number. The main window shows it beside the destination folders so the photographer
// sees where the card will go before pressing Start.
#pragma once

#include <optional>
#include <string>

namespace cw {

class AppSession;

// "FOLDER/NAME.EXT" relative to the primary folder, for the image at `path`; empty when the
// specifications give nothing.
std::string naming_preview(AppSession& session, const std::string& path);

// "NAME.EXT": what `name_format`, in place of the master preset's name format, would call the
// image at `path`, or, without one, a sample camera file (IMG_0042.JPG, taken on 1 June 2024
// at 14:30:00). Empty when the format gives nothing.
std::string name_format_example(AppSession& session, const std::string& name_format,
                                const std::optional<std::string>& path);

}  // namespace cw
