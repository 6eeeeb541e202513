// Years of made-up ingestions.
#include "control/demo_history.h"

#include <optional>
#include <string>

#include "control/app_session.h"
#include "database/database.h"

namespace cw {

void record_demo_history(AppSession& session) {
  Database* database = session.database();
  if (!database) return;
  Database& db = *database;
  const char* const clients[] = {"Harper & Cole", "Riverside School", "Studio", "Mill Gallery"};
  const char* const projects[] = {"Wedding", "Portraits 2024", "Catalogue", "Opening night"};
  const char* const results[] = {"SUCCESS", "SUCCESS", "SUCCESS",
                                 "SUCCESS / 2 duplicate(s) skipped", "Stopped by user"};
  const char* const notes[] = {"Ceremony and reception", "",
                               "Second shooter's card",  "Group photos, north lawn",
                               "Re-shoot after rain",    ""};
  for (int i = 0; i < 36; ++i) {
    const std::string client = clients[i % 4];
    if (db.client_key(client) < 0) db.client_add(client, "", false);
    int project = db.project_key(client, projects[i % 4]);
    if (project < 0) project = db.project_add(projects[i % 4], client, std::nullopt, "");
    std::string card = "#";
    card += std::to_string(1 + i % 6);
    int card_key = db.card_key(card);
    if (card_key < 0) card_key = db.card_add(card, "SanDisk 64 GB");
    const int key = db.ingestion_insert(project, card_key, 1 + i * 240, (i + 1) * 240,
                                        120 + (i * 37) % 120, std::string(notes[i % 6]));
    db.ingestion_append_result(key, results[i % 5]);
    // Spread over the last three years, newest last.
    db.exec(
        *sql_format("update ingestion set ingested_dt = datetime('now', 'localtime', "
                    "'-%d days', '-%d minutes') where ingestion_sk = %d",
                    (36 - i) * 29, i * 37 % 600, key));
  }
}

}  // namespace cw
