// The table catalogue (see catalog.h).
#include "database/catalog.h"

#include <strings.h>

#include <string>

namespace cw {

namespace {

std::vector<CatalogColumn> plain_columns(std::initializer_list<const char*> names) {
  std::vector<CatalogColumn> out;
  for (const char* n : names) out.push_back({n, n, 200});
  return out;
}

std::vector<CatalogEntry> build_catalog() {
  std::vector<CatalogEntry> c;
  c.push_back({"Clients",
               "client",
               CatalogKind::Client,
               {{"Name", "name", 200},
                {"ID", "client_sk", 25},
                {"Time Record Created", "created_dt", 120},
                {"Description", "description", 300}},
               "select name, client_sk, created_dt, description from client where hidden is "
               "null order by name collate NOCASE",
               "name"});
  c.push_back({"Projects",
               "project",
               CatalogKind::Project,
               {{"Name", "name", 200},
                {"ID", "project_sk", 25},
                {"Client", "name", 200},
                {"Time Record Created", "created_dt", 120},
                {"Description", "description", 300}},
               "",
               "name"});
  c.push_back({"Cards",
               "card",
               CatalogKind::Card,
               {{"Name", "name", 200},
                {"ID", "card_sk", 25},
                {"Time Record Created", "inservice_dt", 120},
                {"Description", "description", 300}},
               "select name, card_sk, inservice_dt, description from card where hidden is null "
               "order by name collate NOCASE",
               "name"});
  c.push_back({"Ingestions",
               "ingestion",
               CatalogKind::Ingestion,
               {{"ID", "ingestion_sk", 25},
                {"Time Ingested", "ingested_dt", 120},
                {"Client", "name", 120},
                {"Project", "name", 120},
                {"Card", "name", 120},
                {"Start", "number_start", 40},
                {"Stop", "number_stop", 40},
                {"Images", "image_count", 40},
                {"Result", "result", 200},
                {"Notes", "notes", 300}},
               "",
               "ingestion_sk"});
  c.push_back({"IPTCcontact", "IPTCcontact", CatalogKind::Free,
               plain_columns({"creator", "title", "address", "city", "state", "post", "country",
                              "phones", "emails", "websites"}),
               "select creator, title, address, city, state, post, country, phones, emails, "
               "websites from IPTCcontact order by creator collate NOCASE",
               "creator"});
  c.push_back(
      {"IPTCcontent", "IPTCcontent", CatalogKind::Free,
       plain_columns({"id", "headline", "description", "keywords", "subjectcode", "writer"}),
       "select id, headline, description, keywords, subjectcode, writer from "
       "IPTCcontent order by id collate NOCASE",
       "id"});
  c.push_back({"IPTCimage", "IPTCimage", CatalogKind::Free,
               plain_columns(
                   {"id", "genre", "scene", "location", "city", "state", "country", "countrycode"}),
               "select id, genre, scene, location, city, state, country, countrycode from "
               "IPTCimage order by id collate NOCASE",
               "id"});
  c.push_back({"IPTCstatus", "IPTCstatus", CatalogKind::Free,
               plain_columns({"id", "title", "job", "instructions", "provider", "source",
                              "copyright", "rights"}),
               "select id, title, job, instructions, provider, source, copyright, rights from "
               "IPTCstatus order by id collate NOCASE",
               "id"});
  c.push_back({"UserData", "UserData", CatalogKind::Free,
               plain_columns({"id", "field1", "field2", "field3", "field4", "field5", "field6",
                              "field7", "field8"}),
               "select id, field1, field2, field3, field4, field5, field6, field7, field8 from "
               "UserData order by id collate NOCASE",
               "id"});
  return c;
}

}  // namespace

const std::vector<CatalogEntry>& table_catalog() {
  static const std::vector<CatalogEntry> catalog = build_catalog();
  return catalog;
}

const CatalogEntry* catalog_find(std::string_view name) {
  std::string n(name);
  for (const CatalogEntry& e : table_catalog())
    if (strcasecmp(n.c_str(), e.title) == 0 || strcasecmp(n.c_str(), e.table) == 0) return &e;
  return nullptr;
}

bool catalog_column_editable(const CatalogEntry& entry, std::size_t column) {
  if (column >= entry.columns.size()) return false;
  switch (entry.kind) {
    case CatalogKind::Free:
      return true;
    case CatalogKind::Ingestion:
      return std::string_view(entry.columns[column].title) == "Notes";
    default:
      return false;
  }
}

}  // namespace cw
