// make_history N: fills the user's database (in the current HOME) with N recorded ingestions,
// each with its parameter record and result, under a handful of clients, projects and cards,
// as years of use leave it. The start-up benchmark opens the desktop program on it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "control/app_session.h"
#include "database/database.h"

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  cw::HeadlessUserInterface ui;
  cw::AppSession session(ui, cw::kSessionDatabase);
  cw::Database* db = session.database();
  if (!db) return 1;
  if (!db->exec("begin")) return 1;
  for (int i = 0; i < n; ++i) {
    const std::string client = "Client " + std::to_string(i % 40);
    int client_key = db->client_key(client);
    if (client_key < 0) client_key = db->client_add(client, "", true);
    const std::string project = "Project " + std::to_string(i % 120);
    int project_key = db->project_key(client, project);
    if (project_key < 0) project_key = db->project_add(project, client, std::nullopt, "");
    std::string card = std::to_string(i % 12);
    card.insert(card.begin(), '#');
    int card_key = db->card_key(card);
    if (card_key < 0) card_key = db->card_add(card, "");
    const int key = db->ingestion_insert(project_key, card_key, i * 300 + 1, i * 300 + 300, 300,
                                         "notes of ingestion " + std::to_string(i));
    if (key < 0 || !db->ingestion_set_params(key, "Source: /media/card/DCIM\nPrimary: /photos\n") ||
        !db->ingestion_append_result(key, "SUCCESS"))
      return 1;
  }
  if (!db->exec("commit")) return 1;
  std::printf("%d ingestions recorded in %s\n", db->ingestion_count(), db->path().c_str());
  return 0;
}
