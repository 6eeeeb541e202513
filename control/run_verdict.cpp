// The verdict of a finished run, from its slots.
#include "control/run_verdict.h"

#include <string_view>

#include "ingest/engine_context.h"

namespace cw {

namespace {

constexpr std::string_view kSafePrefix = "Card safe to format: ";
constexpr std::string_view kNotYetPrefix = "Card not yet safe to format: ";

// A slot's verdict line without its headline, which the banner shows once for all cards.
std::string without_prefix(const std::string& line, std::string_view prefix) {
  return line.starts_with(prefix) ? line.substr(prefix.size()) : line;
}

// What failed first in a slot: the file it failed on where there is one, else the error text.
std::string first_error_of(const VerdictSlot& s) {
  if (!s.ctx) return {};
  return !s.ctx->first_error.empty() ? s.ctx->first_error : s.ctx->error;
}

const FormatVerdict* verdict_of(const VerdictSlot& s) {
  return s.ctx && s.ctx->verdict.made ? &s.ctx->verdict : nullptr;
}

}  // namespace

RunVerdict run_verdict(const std::vector<VerdictSlot>& slots, bool stopped,
                       const std::string& end_error) {
  RunVerdict v;
  if (slots.empty()) return v;
  const bool several = slots.size() > 1;
  // With several cards each line names its card.
  auto line = [several](const VerdictSlot& s, const std::string& text) {
    return several && s.ctx ? s.ctx->job.title + ": " + text : text;
  };
  if (stopped) {
    v.level = VerdictLevel::kNotYet;
    v.headline = several ? "Cards not yet safe to format" : "Card not yet safe to format";
    v.detail = "the ingestion was stopped before it finished";
    return v;
  }
  for (const VerdictSlot& s : slots) {
    if (!s.error) continue;
    const std::string first = first_error_of(s);
    v.level = VerdictLevel::kError;
    v.headline = "Ingestion error: do not format the card";
    v.detail = line(s, first.empty() ? "the report says what failed" : first);
    return v;
  }
  if (!end_error.empty()) {
    v.level = VerdictLevel::kError;
    v.headline = "Ingestion error: do not format the card";
    v.detail = end_error;
    return v;
  }
  bool safe = true;
  for (const VerdictSlot& s : slots)
    if (!verdict_of(s) || !verdict_of(s)->safe) safe = false;
  v.level = safe ? VerdictLevel::kSafe : VerdictLevel::kNotYet;
  if (safe)
    v.headline = several ? "Cards safe to format" : "Card safe to format";
  else
    v.headline = several ? "Cards not yet safe to format" : "Card not yet safe to format";
  for (const VerdictSlot& s : slots) {
    const FormatVerdict* f = verdict_of(s);
    std::string text;
    if (!f)
      text = "the run did not get as far as checking its copies";
    else if (safe || !f->safe)
      text = without_prefix(f->line, f->safe ? kSafePrefix : kNotYetPrefix);
    else
      text = f->line;  // a safe card among others that are not: its line says so
    if (!v.detail.empty()) v.detail += '\n';
    v.detail += line(s, text);
  }
  return v;
}

}  // namespace cw
