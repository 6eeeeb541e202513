// What the next ingestion would call the first image of a card: the master preset's folder
// and name specifications expanded for that image the way naming expands them, with the next
// starting number. The main window shows it beside the destination folders so the photographer
// sees where the card will go before pressing Start.
#pragma once

#include <string>

namespace cw {

class AppSession;

// "FOLDER/NAME.EXT" relative to the primary folder, for the image at `path`; empty when the
// specifications give nothing.
std::string naming_preview(AppSession& session, const std::string& path);

}  // namespace cw
