// `cardwright db`: look at and manage the ingestion database from the command line: clients,
// projects and cards, the ingestion history, any table, an ingestion's parameters, CSV export,
// purge, verification and repair.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/catalogue_move.h"
#include "control/records.h"
#include "control/settings_access.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace cw::app {

namespace {

constexpr const char* kName = "db";

std::string option(const Args& a, const char* name) { return a.value(name).value_or(""); }

// One cell on one terminal line: tabs and line breaks shown as \t and \n, every other control
// character escaped (cells hold card names and the texts of runs).
std::string flat(const std::string& cell) {
  std::string out;
  for (char c : cell) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c != '\r')
      out += c;
  }
  return printable_text(out);
}

void print_table(const LoadedTable& t) {
  for (std::size_t i = 0; i < t.entry->columns.size(); ++i)
    std::printf("%s%s", i ? "\t" : "", t.entry->columns[i].title);
  std::printf("\n");
  for (const auto& row : t.result.rows) {
    for (std::size_t i = 0; i < row.size(); ++i)
      std::printf("%s%s", i ? "\t" : "", flat(row[i]).c_str());
    std::printf("\n");
  }
  std::fprintf(stderr, "%zu records shown\n", t.result.row_count());
}

// `all_ingestions`: the whole history unless --age narrows it, not only the newest 1000 (a
// row to change may be older).
std::optional<LoadedTable> load(Records& records, const std::string& table, const Args& a,
                                bool all_ingestions = false) {
  const CatalogEntry* entry = catalog_find(table);
  if (!entry) {
    failure(kName, "no table named '" + table + "'");
    return std::nullopt;
  }
  BrowseChoice choice;
  choice.client = option(a, "client");
  choice.age = option(a, "age");
  if (all_ingestions && choice.age.empty()) choice.age = kAgeChoices[std::size(kAgeChoices) - 1];
  if (!choice.age.empty() && !age_filter(choice.age, ">=", std::time(nullptr))) {
    bad_value(kName, "age", choice.age, "expects \"1 month\", \"3 months\", \"6 months\", \"1 year\" or All");
    return std::nullopt;
  }
  if (entry->kind == CatalogKind::Project && choice.client.empty()) {
    usage_error(kName, "projects need --client NAME");
    return std::nullopt;
  }
  return records.browse(*entry, choice);
}

// clients|projects|cards [list|add|rename|delete] ...
int entity_command(Records& records, EntityKind kind, const Args& a) {
  std::string client = option(a, "client");
  if (kind == EntityKind::Project && client.empty())
    return usage_error(kName, "projects need --client NAME");
  std::string verb = a.words.size() > 1 ? a.words[1] : "list";
  const char* table = kind == EntityKind::Client    ? "client"
                      : kind == EntityKind::Project ? "project"
                                                    : "card";
  auto want = [&](std::size_t n) { return a.words.size() == n; };
  if (verb == "list") {
    if (!want(1) && !want(2)) return usage_error(kName, "list takes no names");
    auto t = load(records, table, a);
    if (!t) return 1;
    print_table(*t);
    return 0;
  }
  if (verb == "add") {
    if (!want(3)) return usage_error(kName, "add takes one NAME");
    return records.add(kind, a.words[2], option(a, "description"), client) >= 0 ? 0 : 1;
  }
  if (verb == "rename") {
    if (!want(4)) return usage_error(kName, "rename takes NAME and NEW");
    // The description the row has is kept unless a new one is given.
    return records.rename(kind, a.words[2], a.words[3], a.value("description"), client) ? 0 : 1;
  }
  if (verb == "delete") {
    if (!want(3)) return usage_error(kName, "delete takes one NAME");
    return records.remove(kind, a.words[2], client) ? 0 : 1;
  }
  return usage_error(kName, "unknown action '" + verb + "'" +
                                did_you_mean(verb, {"list", "add", "rename", "delete"}));
}

int run(Records& records, const Args& a) {
  const std::string& cmd = a.words[0];
  if (cmd == "clients") return entity_command(records, EntityKind::Client, a);
  if (cmd == "projects") return entity_command(records, EntityKind::Project, a);
  if (cmd == "cards") return entity_command(records, EntityKind::Card, a);
  if (cmd == "ingestions" || cmd == "show") {
    std::string table = cmd == "ingestions" ? "ingestion" : (a.words.size() == 2 ? a.words[1] : "");
    if (table.empty() || (cmd == "ingestions" && a.words.size() != 1))
      return usage_error(kName, cmd == "show" ? "show takes one TABLE" : "ingestions takes no names");
    auto t = load(records, table, a);
    if (!t) return 1;
    print_table(*t);
    return 0;
  }
  if (cmd == "edit" || cmd == "delete-row") {
    const std::size_t words = cmd == "edit" ? 5 : 3;
    if (a.words.size() != words)
      return usage_error(kName, cmd == "edit" ? "edit takes TABLE, KEY, COLUMN and TEXT"
                                              : "delete-row takes TABLE and KEY");
    auto t = load(records, a.words[1], a, true);
    if (!t) return 1;
    const long row = find_row(*t, a.words[2]);
    if (row < 0) return failure(kName, "no row '" + a.words[2] + "' in " + t->entry->title);
    if (cmd == "delete-row") return records.delete_row(*t, row) ? 0 : 1;
    const long column = find_column(*t->entry, a.words[3]);
    if (column < 0) return failure(kName, "no column '" + a.words[3] + "' in " + t->entry->title);
    return records.edit_cell(*t, static_cast<std::size_t>(row), static_cast<std::size_t>(column),
                             a.words[4])
               ? 0
               : 1;
  }
  if (cmd == "add-row") {
    if (a.words.size() != 2) return usage_error(kName, "add-row takes one TABLE");
    const CatalogEntry* entry = catalog_find(a.words[1]);
    if (!entry) return failure(kName, "no table named '" + a.words[1] + "'");
    const std::optional<std::string> key = records.add_row(*entry, option(a, "client"));
    if (!key) return 1;
    std::printf("%s\n", key->c_str());
    return 0;
  }
  if (cmd == "params") {
    if (a.words.size() != 2) return usage_error(kName, "params takes one ingestion ID");
    char* end = nullptr;
    long id = std::strtol(a.words[1].c_str(), &end, 10);
    if (*end || id <= 0) return usage_error(kName, "the ingestion ID is a number above 0, not '" + a.words[1] + "'");
    const std::optional<std::string> text = records.parameters(static_cast<int>(id));
    if (!text) return failure(kName, "no ingestion with ID " + std::to_string(id));
    std::printf("Ingestion Parameters\n\n%s\n",
                text->empty() ? "No parameter details available." : text->c_str());
    return 0;
  }
  if (cmd == "export") {
    if (a.words.size() != 3) return usage_error(kName, "export takes TABLE and FILE.csv");
    auto t = load(records, a.words[1], a);
    if (!t) return 1;
    return records.export_csv(*t, a.words[2]) ? 0 : 1;
  }
  if (cmd == "purge") {
    if (a.words.size() != 1) return usage_error(kName, "purge takes no names");
    int deleted = 0;
    switch (records.purge(std::time(nullptr), &deleted)) {
      case PurgeOutcome::Declined:
        std::fprintf(stderr, "Nothing deleted (confirm with --yes).\n");
        return 1;
      case PurgeOutcome::Failed:
        return 1;
      case PurgeOutcome::Done:
        std::printf("%d ingestion record%s deleted.\n", deleted, deleted == 1 ? "" : "s");
        return 0;
    }
  }
  if (cmd == "verify") {
    std::string text;
    bool passed = records.verify(text);
    std::fputs(text.c_str(), stdout);
    return passed ? 0 : 1;
  }
  if (cmd == "repair") {
    std::string text;
    bool repairs_made = false;
    bool ok = records.repair(text, repairs_made);
    std::fputs(text.c_str(), stdout);
    return ok ? 0 : 1;
  }
  return 2;  // the commands are checked before
}

// migrate --to URL: this station's catalogue into another one.
int migrate(AppSession& session, const Args& a) {
  if (a.words.size() != 1) return usage_error(kName, "migrate takes no names");
  const std::string target = option(a, "to");
  if (target.empty()) return usage_error(kName, "migrate needs --to URL");
  const std::optional<std::string> summary = migrate_catalogue_to(session, target);
  if (!summary) return 1;
  std::fputs(summary->c_str(), stdout);
  return 0;
}

int run_db(const CommandSpec&, Args& a) {
  if (a.words.empty()) return usage_error(kName, "missing command");

  // Every command but the explicit check and repair acts on a database whose links were
  // checked (and, when broken, repaired with a backup) first, as at the program's start.
  const bool checking = a.words[0] == "verify" || a.words[0] == "repair";
  ConsoleUserInterface ui(a.has("yes"));
  CommandSession session(ui, checking ? kStepSettings | kStepDatabase : kSessionDatabase);
  if (!session->ok()) return 1;
  if (a.words[0] == "migrate") return migrate(*session, a);
  std::optional<Records> records = Records::of(*session);
  return records ? run(*records, a) : 1;
}

const char* db_description() {
  static const std::string text = std::string("Looks at and manages the ingestion database (") +
                                  kDatabaseFileName + " in the per-user folder).";
  return text.c_str();
}

}  // namespace

const CommandSpec& db_command() {
  static const CommandSpec spec{
      "db",
      "browse and manage the ingestion database",
      {"COMMAND [ARGUMENTS] [OPTIONS]"},
      db_description(),
      {
          {"clients", "[list|add|rename|delete] [NAME [NEW]]",
           "the clients; delete hides one (old ingestions keep it)"},
          {"projects", "[list|add|rename|delete] [NAME [NEW]] --client NAME",
           "the same for the projects of a client"},
          {"cards", "[list|add|rename|delete] [NAME [NEW]]", "the same for cards"},
          {"ingestions", "", "the ingestion history, newest first (default: the newest 1000)"},
          {"show", "TABLE", "any table: Clients, Projects, Cards, Ingestions, IPTCcontact,\n"
                            "IPTCcontent, IPTCimage, IPTCstatus, UserData",
           "Clients Projects Cards Ingestions IPTCcontact IPTCcontent IPTCimage IPTCstatus UserData"},
          {"edit", "TABLE KEY COLUMN TEXT", "stores TEXT in a cell: the name or description of a\n"
                                           "client, project or card (a rename), ingestion notes,\n"
                                           "any column of the IPTC and user tables (the row by its\n"
                                           "first column)",
           "Clients Projects Cards Ingestions IPTCcontact IPTCcontent IPTCimage IPTCstatus UserData"},
          {"add-row", "TABLE", "adds a row with a default name or id, and prints it",
           "Clients Projects Cards IPTCcontact IPTCcontent IPTCimage IPTCstatus UserData"},
          {"delete-row", "TABLE KEY", "deletes a row (asks first); rows still in use are kept",
           "Clients Projects Cards Ingestions IPTCcontact IPTCcontent IPTCimage IPTCstatus UserData"},
          {"params", "ID", "the stored parameters of an ingestion"},
          {"export", "TABLE FILE.csv", "a table as CSV",
           "Clients Projects Cards Ingestions IPTCcontact IPTCcontent IPTCimage IPTCstatus UserData"},
          {"purge", "", "delete ingestion records older than 1 year (asks first)"},
          {"verify", "", "check the links between the records"},
          {"repair", "", "back up and repair broken links"},
          {"migrate", "--to URL", "copies this station's catalogue into the catalogue at URL\n"
                                  "(normally the studio's server): clients, projects and cards\n"
                                  "are merged by name, every ingestion is added with its ledger\n"
                                  "and manifests; a second run adds nothing; all or nothing"},
      },
      {
          {"client", "NAME", "the client of the projects (or of the rows shown)", false, nullptr,
           "projects ingestions show export edit add-row delete-row"},
          {"description", "TEXT", "description of a client, project or card (default: kept on\n"
                                  "rename, empty on add)", false, nullptr, "clients projects cards"},
          {"age", "AGE", "\"1 month\", \"3 months\", \"6 months\", \"1 year\" or All", false,
           nullptr, "ingestions show export edit delete-row"},
          {"yes", nullptr, "answer Yes to the confirmation question", false, nullptr,
           "clients projects cards purge delete-row"},
          {"to", "URL", "the catalogue to migrate into: \"postgresql://user@host:port/dbname\"\n"
                        "or a database file", false, nullptr, "migrate"},
      },
      {},
      nullptr,
      run_db,
  };
  return spec;
}

}  // namespace cw::app
