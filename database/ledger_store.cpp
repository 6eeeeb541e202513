// Statements on the ledger, ledger_copy and manifest tables.
#include "database/ledger_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>

#include "database/database.h"
#include "foundation/sysio.h"

namespace cw {

namespace {

struct StateName {
  CopyState state;
  const char* text;
};

constexpr StateName kStateNames[] = {
    {CopyState::kPending, "pending"},     {CopyState::kWritten, "written"},
    {CopyState::kVerified, "verified"},   {CopyState::kConverted, "converted"},
    {CopyState::kBad, "bad"},             {CopyState::kChanging, "changing"},
};

const char* state_text(CopyState s) {
  for (const StateName& n : kStateNames)
    if (n.state == s) return n.text;
  return "pending";
}

CopyState state_of(const std::string& text) {
  for (const StateName& n : kStateNames)
    if (text == n.text) return n.state;
  return CopyState::kPending;
}

long long to_ll(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// A tree root and a path below it as the ledger records them: below a named archive root, its
// name and both paths inside it; else an empty name and both paths whole.
struct StoredPlace {
  std::string name, root, path;
};

StoredPlace stored_place(const ArchiveRoots& roots, const std::string& root,
                         const std::string& path, const std::string& unmapped_root) {
  if (!unmapped_root.empty()) return {unmapped_root, root, path};
  const std::optional<ArchiveRoots::Place> place = roots.place_of(path);
  if (!place) return {"", root, path};
  const std::optional<ArchiveRoots::Place> root_place = roots.place_of(root);
  const bool same_root = root_place && root_place->name == place->name;
  return {place->name, same_root ? root_place->inside : "", place->inside};
}

// The inverse, for this station: false when it does not map the root `name`, whose paths are
// then left as the paths inside it.
bool local_place(const ArchiveRoots& roots, const std::string& name, std::string& root,
                 std::string& path) {
  if (name.empty()) return true;
  const std::optional<std::string> local_root = roots.path_of(name, root);
  const std::optional<std::string> local_path = roots.path_of(name, path);
  if (!local_root || !local_path) return false;
  root = *local_root;
  path = *local_path;
  return true;
}

struct DamageName {
  Damage damage;
  const char* text;
};

constexpr DamageName kDamageNames[] = {
    {Damage::kCorruptRaw, "corrupt raw"},
    {Damage::kDamagedJpeg, "damaged JPEG"},
    {Damage::kCorruptJpeg, "corrupt JPEG"},
};

const char* damage_text(Damage d) {
  for (const DamageName& n : kDamageNames)
    if (n.damage == d) return n.text;
  return nullptr;
}

Damage damage_of(const std::string& text) {
  for (const DamageName& n : kDamageNames)
    if (text == n.text) return n.damage;
  return Damage::kNone;
}

void bind_damage(Database::Repeated& st, int at, const LedgerEntry& e) {
  if (const char* text = damage_text(e.damage)) {
    st.bind(at, std::string(text));
    st.bind(at + 1, e.damage_text);
  } else {
    st.bind_null(at);
    st.bind_null(at + 1);
  }
}

// The two inserts of a store, prepared once for all its rows.
struct LedgerInserts {
  explicit LedgerInserts(Database& db)
      : entry(db,
              "insert into ledger (ingestion_id, card_label, card_uuid, camera_serial, "
              "source_path, size, modified, captured, hash, taken_dt, damage, damage_note, "
              "recent) values(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, 1)"),
        copy(db, db.dialect()
                     .insert_or_replace("ledger_copy",
                                        "ledger_id, path, tree, root, size, hash, state, "
                                        "fingerprint, root_name",
                                        "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9",
                                        "ledger_id, root_name, path")
                     .c_str()),
        damage(db, "update ledger set damage = ?1, damage_note = ?2 where ledger_sk = ?3") {}
  bool ready() const { return entry.ready() && copy.ready() && damage.ready(); }

  Database::Repeated entry, copy, damage;
};

bool insert_entry(Database& db, LedgerInserts& inserts, LedgerEntry& e, const std::string& now) {
  Database::Repeated& st = inserts.entry;
  st.bind(1, e.ingestion_id);
  st.bind(2, e.card_label);
  st.bind(3, e.card_uuid);
  st.bind(4, e.camera_serial);
  st.bind(5, e.source);
  st.bind(6, static_cast<long long>(e.size));
  st.bind(7, static_cast<long long>(e.modified));
  st.bind(8, e.captured);
  st.bind(9, e.hash.hex());
  st.bind(10, now);
  bind_damage(st, 11, e);
  if (!st.run()) return false;
  e.key = static_cast<long long>(db.last_insert_key());
  return true;
}

// The state a copy is stored with: only a proof waits for the flush; "bad" and "changing"
// claim none.
CopyState stored_state(const LedgerCopy& c, bool durable) {
  const bool claims_nothing = c.state == CopyState::kBad || c.state == CopyState::kChanging;
  return durable || claims_nothing ? c.state : CopyState::kWritten;
}

bool store_copy(const ArchiveRoots& roots, LedgerInserts& inserts, long long key,
                const LedgerCopy& c, bool durable) {
  const CopyState state = stored_state(c, durable);
  const StoredPlace place = stored_place(roots, c.root, c.path, c.unmapped_root);
  Database::Repeated& st = inserts.copy;
  st.bind(1, key);
  st.bind(2, place.path);
  st.bind(3, static_cast<long long>(c.tree));
  st.bind(4, place.root);
  st.bind(5, static_cast<long long>(c.size));
  if (c.hash)
    st.bind(6, c.hash->hex());
  else
    st.bind_null(6);
  st.bind(7, std::string(state_text(state)));
  if (c.fingerprint)
    st.bind(8, c.fingerprint->text());
  else
    st.bind_null(8);
  st.bind(9, place.name);
  return st.run();
}

bool store_damage(LedgerInserts& inserts, const LedgerEntry& e) {
  Database::Repeated& st = inserts.damage;
  bind_damage(st, 1, e);
  st.bind(3, e.key);
  return st.run();
}

// Rows written many to a statement, for an engine that pays a round trip per statement.
constexpr std::size_t kRowsPerStatement = 500;

// Runs `head` followed by the rows (each "(...)"), kRowsPerStatement to a statement; `tail`
// (when given) makes the statement's ending from the rows joined by ", ".
bool insert_rows(Database& db, const std::string& head, const std::vector<std::string>& rows,
                 const std::function<std::string(const std::string&)>& tail) {
  for (std::size_t from = 0; from < rows.size(); from += kRowsPerStatement) {
    std::string values;
    for (std::size_t i = from; i < std::min(rows.size(), from + kRowsPerStatement); ++i)
      values += (values.empty() ? "" : ", ") + rows[i];
    if (!db.exec(tail ? tail(values) : head + values)) return false;
  }
  return true;
}

// The store of ledger_store on an engine that hands out keys ahead (a server): the new entries
// get reserved keys and go in with their copies a few statements in all, instead of three
// round trips per image. The caller's transaction holds.
bool store_many(Database& db, const std::vector<LedgerEntry*>& entries, bool durable,
                const std::string& now, std::vector<std::pair<LedgerEntry*, long long>>& keyed) {
  std::size_t fresh = 0;
  for (const LedgerEntry* e : entries) fresh += e->key < 0 ? 1 : 0;
  std::optional<QueryResult> keys;
  if (fresh > 0) {
    keys = db.query(db.dialect().reserve_keys("ledger", "ledger_sk", fresh));
    if (!keys || keys->rows.size() != fresh) return false;
  }
  std::vector<std::string> entry_rows, copy_rows;
  std::size_t next = 0;
  for (LedgerEntry* e : entries) {
    if (e->key < 0) {
      const std::string& key = keys->rows[next++][0];
      const std::optional<std::string> row = sql_format(
          "(%s, %d, %Q, %Q, %Q, %Q, %lld, %lld, %Q, %Q, %Q, %Q, %Q, 1)", key.c_str(),
          e->ingestion_id, e->card_label.c_str(), e->card_uuid.c_str(), e->camera_serial.c_str(),
          e->source.c_str(), static_cast<long long>(e->size), static_cast<long long>(e->modified),
          e->captured.c_str(), e->hash.hex().c_str(), now.c_str(), damage_text(e->damage),
          damage_text(e->damage) ? e->damage_text.c_str() : nullptr);
      if (!row) return false;
      entry_rows.push_back(*row);
      keyed.emplace_back(e, -1);
      e->key = std::strtoll(key.c_str(), nullptr, 10);
    } else if (!e->damage_stored) {
      LedgerInserts inserts(db);
      if (!inserts.ready() || !store_damage(inserts, *e)) return false;
    }
    for (const LedgerCopy& c : e->copies) {
      if (c.stored || c.state == CopyState::kPending) continue;
      const std::optional<std::string> hash = c.hash ? std::optional(c.hash->hex()) : std::nullopt;
      const std::optional<std::string> fp =
          c.fingerprint ? std::optional(c.fingerprint->text()) : std::nullopt;
      const StoredPlace place = stored_place(db.archive_roots(), c.root, c.path, c.unmapped_root);
      const std::optional<std::string> row = sql_format(
          "(%lld, %Q, %d, %Q, %lld, %Q, %Q, %Q, %Q)", e->key, place.path.c_str(),
          static_cast<int>(c.tree), place.root.c_str(), static_cast<long long>(c.size),
          hash ? hash->c_str() : nullptr, state_text(stored_state(c, durable)),
          fp ? fp->c_str() : nullptr, place.name.c_str());
      if (!row) return false;
      copy_rows.push_back(*row);
    }
  }
  const char* const copy_columns =
      "ledger_id, path, tree, root, size, hash, state, fingerprint, root_name";
  return insert_rows(db,
                     "insert into ledger (ledger_sk, ingestion_id, card_label, card_uuid, "
                     "camera_serial, source_path, size, modified, captured, hash, taken_dt, "
                     "damage, damage_note, recent) values",
                     entry_rows, nullptr) &&
         insert_rows(db, "", copy_rows, [&db, copy_columns](const std::string& values) {
           // The rows as one "values(...)" list: the first's "(" and the last's ")" are the
           // list's own.
           return db.dialect().insert_or_replace("ledger_copy", copy_columns,
                                                 values.substr(1, values.size() - 2),
                                                 "ledger_id, root_name, path");
         });
}

}  // namespace

std::string Fingerprint::text() const {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%" PRIu64 ":%" PRIu64 ":%" PRIu64 ":%" PRId64 ":%" PRId64,
                device, inode, size, modified_ns, changed_ns);
  return buf;
}

std::optional<Fingerprint> Fingerprint::from_text(const std::string& text) {
  Fingerprint fp;
  int end = 0;
  if (std::sscanf(text.c_str(), "%" SCNu64 ":%" SCNu64 ":%" SCNu64 ":%" SCNd64 ":%" SCNd64 "%n",
                  &fp.device, &fp.inode, &fp.size, &fp.modified_ns, &fp.changed_ns,
                  &end) != 5 ||
      static_cast<std::size_t>(end) != text.size())
    return std::nullopt;
  return fp;
}

namespace {
// A file time in nanoseconds; times beyond what 64 bits hold (a file dated centuries ahead)
// keep their seconds' bits instead, still a value that changes with the time.
std::int64_t time_ns(const timespec& t) {
  std::int64_t ns;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(t.tv_sec), std::int64_t{1'000'000'000},
                             &ns) ||
      __builtin_add_overflow(ns, static_cast<std::int64_t>(t.tv_nsec), &ns))
    return static_cast<std::int64_t>(t.tv_sec);
  return ns;
}
}  // namespace

Fingerprint fingerprint_of(const struct stat& st) {
  Fingerprint fp;
  fp.device = static_cast<std::uint64_t>(st.st_dev);
  fp.inode = static_cast<std::uint64_t>(st.st_ino);
  fp.size = static_cast<std::uint64_t>(st.st_size);
  fp.modified_ns = time_ns(st.st_mtim);
  fp.changed_ns = time_ns(st.st_ctim);
  return fp;
}

namespace {

std::int64_t tick_of(int got, const struct statfs& fs) {
  if (got != 0) return kFingerprintSettleNs;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // XFS
    case 0x9123683EUL:  // Btrfs
    case 0xF2F52010UL:  // F2FS
    case 0x01021994UL:  // tmpfs
      break;
    default:
      return kFingerprintSettleNs;
  }
  timespec res{};
  if (::clock_getres(CLOCK_REALTIME_COARSE, &res) != 0) return kFingerprintSettleNs;
  return std::min(kFingerprintSettleNs, 2 * time_ns(res) + 1'000'000);
}

}  // namespace

std::int64_t change_time_tick_ns(int fd) {
  struct statfs fs;
  return tick_of(::fstatfs(fd, &fs), fs);
}

std::int64_t change_time_tick_ns(const std::string& path) {
  struct statfs fs;
  return tick_of(::statfs(path.c_str(), &fs), fs);
}

std::int64_t proven_change_time_tick_ns(const std::string& folder) {
  const std::int64_t tick = change_time_tick_ns(folder);
  if (tick == kFingerprintSettleNs) return tick;  // no local file system's clock
  const UniqueFd file(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!file.valid()) return tick;
  const int fd = file.get();
  bool proven = true;
  for (int i = 0; i < 4 && proven; ++i) {
    timespec start{}, end{};
    struct stat before, after;
    const char byte = static_cast<char>(i);
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    proven = ::pwrite(fd, &byte, 1, 0) == 1 && ::fstat(fd, &before) == 0 &&
             ::pwrite(fd, &byte, 1, 1) == 1 && ::fstat(fd, &after) == 0;
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    // A coarse clock may tick between the two writes, but not each time within so little.
    proven = proven && time_ns(end) - time_ns(start) < 1'000'000 &&
             time_ns(after.st_ctim) != time_ns(before.st_ctim);
  }
  return proven ? 0 : tick;
}

std::int64_t fingerprint_settle_wait_ns(const Fingerprint& fp, std::int64_t now_ns,
                                        std::int64_t tick_ns) {
  constexpr std::int64_t kNs = 1'000'000'000;
  const std::int64_t tick = fp.changed_ns % kNs == 0 ? kCoarseFingerprintSettleNs : tick_ns;
  // A change time ahead of the clock (a file server's clock, a clock set back) is waited for
  // a tick, no longer.
  std::int64_t age;
  if (__builtin_sub_overflow(now_ns, fp.changed_ns, &age) || age < 0) return tick;
  return age >= tick ? 0 : tick - age;
}

std::int64_t real_time_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

namespace {

// The columns of an entry's rows, and of its copies' (kCopyColumns, all from the ledger_copy
// table `c`), as entry_row and copy_row read them; copies in the order of their key.
constexpr const char* kEntryColumns =
    "ledger_sk, ingestion_id, card_label, card_uuid, camera_serial, source_path, modified, "
    "captured, damage, damage_note";
constexpr const char* kCopyColumns =
    "c.tree, c.root, c.path, c.size, c.hash, c.state, c.fingerprint, c.root_name";
constexpr const char* kCopyOrder = " order by c.ledger_id, c.root_name, c.path";

// Folds one row of an entry (kEntryColumns, rows of one content in key order) into `e`: the
// first row gives the entry; damage any row records stays with the content.
void entry_row(const std::vector<std::string>& r, LedgerEntry& e, bool first) {
  if (first) {
    e.key = to_ll(r[0]);
    e.ingestion_id = static_cast<int>(to_ll(r[1]));
    e.card_label = r[2];
    e.card_uuid = r[3];
    e.camera_serial = r[4];
    e.source = r[5];
    e.modified = to_ll(r[6]);
    e.captured = r[7];
  }
  if (e.damage != Damage::kNone) return;
  if (const Damage d = damage_of(r[8]); d != Damage::kNone) {
    e.damage = d;
    e.damage_text = r[9];
  }
}

// A copy from its row (kCopyColumns from column `at` on).
LedgerCopy copy_row(Database& db, const std::vector<std::string>& r, std::size_t at) {
  const std::string* c = r.data() + at;
  LedgerCopy copy;
  copy.tree = static_cast<CopyTree>(to_ll(c[0]));
  copy.root = c[1];
  copy.path = c[2];
  if (!local_place(db.archive_roots(), c[7], copy.root, copy.path)) copy.unmapped_root = c[7];
  copy.size = static_cast<std::uint64_t>(to_ll(c[3]));
  copy.hash = Hash128::from_hex(c[4]);
  copy.state = state_of(c[5]);
  copy.fingerprint = Fingerprint::from_text(c[6]);
  copy.stored = true;
  return copy;
}

}  // namespace

std::optional<LedgerEntry> ledger_find(Database& db, const Hash128& hash, std::uint64_t size) {
  const std::string hex = hash.hex();
  // The keys of the entries of this content: in the index of contents, or stored since it was
  // last brought up to date (ledger_index_recent).
  const std::optional<std::string> keys = sql_format(
      "select ledger_sk from ledger where recent is null and hash = %Q and size = %lld "
      "union all select ledger_sk from ledger where recent = 1 and hash = %Q and size = %lld",
      hex.c_str(), static_cast<long long>(size), hex.c_str(), static_cast<long long>(size));
  if (!keys) return std::nullopt;
  std::string sql = "select ";
  sql += kEntryColumns;
  sql += " from ledger where ledger_sk in (" + *keys + ") order by ledger_sk";
  auto rows = db.query(sql);
  if (!rows || rows->rows.empty()) return std::nullopt;
  LedgerEntry e;
  e.size = size;
  e.hash = hash;
  for (std::size_t i = 0; i < rows->rows.size(); ++i) entry_row(rows->rows[i], e, i == 0);
  std::string copies_sql = "select ";
  copies_sql += kCopyColumns;
  copies_sql += " from ledger_copy c where c.ledger_id in (" + *keys + ")";
  copies_sql += kCopyOrder;
  auto copies = db.query(copies_sql);
  if (!copies) return std::nullopt;
  for (const std::vector<std::string>& c : copies->rows) e.copies.push_back(copy_row(db, c, 0));
  return e;
}

bool ledger_knows_size_and_time(Database& db, std::uint64_t size, std::int64_t modified) {
  auto sql = sql_format("select 1 from ledger where size = %lld and modified = %lld limit 1",
                        static_cast<long long>(size), static_cast<long long>(modified));
  if (!sql) return false;
  auto r = db.query(*sql);
  return r && !r->rows.empty();
}

namespace {

// Runs `head` + " in (LITERALS)" + `tail` over `literals` (SQL literal texts), a few hundred to a
// statement (the text stays short and each lookup stays on the index), and hands every row to
// `row`. False when a query failed.
template <typename Row>
bool query_listed(Database& db, const std::string& head, const std::vector<std::string>& literals,
                  const std::string& tail, Row&& row) {
  constexpr std::size_t kPerQuery = 500;
  for (std::size_t at = 0; at < literals.size(); at += kPerQuery) {
    std::string sql = head + " in (";
    const std::size_t end = std::min(literals.size(), at + kPerQuery);
    for (std::size_t i = at; i < end; ++i) {
      if (i > at) sql += ',';
      sql += literals[i];
    }
    sql += ')';
    sql += tail;
    auto rows = db.query(sql);
    if (!rows) return false;
    for (const std::vector<std::string>& r : rows->rows) row(r);
  }
  return true;
}

// Sizes as the SQL literals query_listed takes.
std::vector<std::string> size_literals(const std::vector<std::uint64_t>& sizes) {
  std::vector<std::string> literals;
  literals.reserve(sizes.size());
  for (std::uint64_t size : sizes) literals.push_back(std::to_string(size));
  return literals;
}

// query_listed over sizes, `select` ending in the size column.
template <typename Row>
bool query_by_sizes(Database& db, const std::vector<std::uint64_t>& sizes, const char* select,
                    Row&& row) {
  return query_listed(db, select, size_literals(sizes), "", std::forward<Row>(row));
}

}  // namespace

std::optional<std::vector<std::pair<std::uint64_t, std::int64_t>>> ledger_sizes_and_times(
    Database& db, const std::vector<std::uint64_t>& sizes) {
  std::vector<std::pair<std::uint64_t, std::int64_t>> out;
  if (!query_by_sizes(db, sizes, "select size, modified from ledger where size",
                      [&out](const std::vector<std::string>& r) {
                        out.emplace_back(static_cast<std::uint64_t>(to_ll(r[0])), to_ll(r[1]));
                      }))
    return std::nullopt;
  return out;
}

std::optional<std::vector<LedgerEntry>> ledger_entries_of_sizes(
    Database& db, const std::vector<std::uint64_t>& sizes) {
  std::vector<LedgerEntry> out;
  // By content, the entry in `out`. A content's rows all have its size, so they come in one
  // statement of query_listed, in key order.
  std::map<std::pair<std::string, std::uint64_t>, std::size_t> at;
  const std::vector<std::string> literals = size_literals(sizes);
  std::string select = "select ";
  select += kEntryColumns;
  select += ", hash, size from ledger where size";
  const auto entry_rows = [&](const std::vector<std::string>& r) {
    const std::optional<Hash128> hash = Hash128::from_hex(r[10]);
    if (!hash) return;  // a row without a readable hash records no content
    const auto [it, added] =
        at.try_emplace({r[10], static_cast<std::uint64_t>(to_ll(r[11]))}, out.size());
    if (added) {
      out.emplace_back();
      out.back().hash = *hash;
      out.back().size = it->first.second;
    }
    entry_row(r, out[it->second], added);
  };
  if (!query_listed(db, select, literals, " order by ledger_sk", entry_rows)) return std::nullopt;
  if (out.empty()) return out;
  std::string copies = "select l.hash, l.size, ";
  copies += kCopyColumns;
  copies += " from ledger l join ledger_copy c on c.ledger_id = l.ledger_sk where l.size";
  const auto copy_rows = [&](const std::vector<std::string>& r) {
    const auto it = at.find({r[0], static_cast<std::uint64_t>(to_ll(r[1]))});
    if (it != at.end()) out[it->second].copies.push_back(copy_row(db, r, 2));
  };
  if (!query_listed(db, copies, literals, kCopyOrder, copy_rows)) return std::nullopt;
  return out;
}

std::optional<std::vector<RecordedCopy>> ledger_copies_of_sizes(
    Database& db, const std::vector<std::uint64_t>& sizes) {
  std::vector<RecordedCopy> out;
  if (!query_by_sizes(db, sizes,
                      "select l.size, l.modified, c.tree, c.root, c.path, c.hash, c.state, "
                      "c.root_name from ledger l join ledger_copy c on c.ledger_id = "
                      "l.ledger_sk where l.size",
                      [&out, &db](const std::vector<std::string>& r) {
                        RecordedCopy c;
                        c.size = static_cast<std::uint64_t>(to_ll(r[0]));
                        c.modified = to_ll(r[1]);
                        c.tree = static_cast<CopyTree>(to_ll(r[2]));
                        c.root = r[3];
                        c.path = r[4];
                        // A copy this station cannot reach is no copy here.
                        if (!local_place(db.archive_roots(), r[7], c.root, c.path)) return;
                        c.hash = Hash128::from_hex(r[5]);
                        c.state = state_of(r[6]);
                        out.push_back(std::move(c));
                      }))
    return std::nullopt;
  return out;
}

std::optional<std::vector<bool>> ledger_holds(
    Database& db, const std::vector<std::pair<Hash128, std::uint64_t>>& contents) {
  // Asked a few hundred hashes at a time (the index on hash and size answers each): checking a
  // disc of thousands of files against the ledger is then a few queries, not a query per file.
  std::vector<std::string> literals;
  literals.reserve(contents.size());
  for (const auto& content : contents) {
    std::string& quoted = literals.emplace_back(1, '\'');
    quoted += content.first.hex();
    quoted += '\'';
  }
  std::set<std::pair<std::string, long long>> held;
  // The index of contents first, then the entries stored since it was last brought up to date.
  for (const char* head : {"select distinct hash, size from ledger where recent is null and hash",
                           "select distinct hash, size from ledger where recent = 1 and hash"})
    if (!query_listed(db, head, literals, "", [&held](const std::vector<std::string>& r) {
          held.emplace(r[0], to_ll(r[1]));
        }))
      return std::nullopt;
  std::vector<bool> out;
  out.reserve(contents.size());
  for (const auto& [hash, size] : contents)
    out.push_back(held.count({hash.hex(), static_cast<long long>(size)}) != 0);
  return out;
}

std::map<std::string, RecordedOrigin> ledger_origins_at(Database& db,
                                                        const std::vector<std::string>& paths) {
  // The paths as they are stored, by the root they are stored under: one query asks for many
  // paths of one root at once (a disc of thousands of files is a few queries, which a server
  // catalogue answers in a few round trips instead of thousands).
  std::map<std::string, std::map<std::string, std::vector<const std::string*>>> by_root;
  for (const std::string& p : paths) {
    const StoredPlace place = stored_place(db.archive_roots(), p, p, "");
    by_root[place.name][place.path].push_back(&p);
  }
  const std::string newest_first = db.dialect().write_order("c");
  std::map<std::string, RecordedOrigin> found;
  for (const auto& [root, stored] : by_root) {
    std::vector<std::string> literals;
    for (const auto& [path, asked] : stored) {
      const std::optional<std::string> quoted = sql_format("%Q", path.c_str());
      if (!quoted) return found;
      literals.push_back(*quoted);
    }
    const std::optional<std::string> head = sql_format(
        "select c.path, c.hash, l.ingestion_id, l.card_label, l.card_uuid, l.camera_serial, "
        "l.captured from ledger_copy c join ledger l on l.ledger_sk = c.ledger_id where "
        "c.root_name = %Q and c.hash is not null and c.state in ('%s', '%s', '%s') and c.path",
        root.c_str(), state_text(CopyState::kWritten), state_text(CopyState::kVerified),
        state_text(CopyState::kConverted));
    if (!head) return found;
    // Each path's rows come newest first: its first row is its origin.
    std::set<std::string> answered;
    query_listed(db, *head, literals, " order by c.path, " + newest_first + " desc",
                 [&](const std::vector<std::string>& r) {
                   if (!answered.insert(r[0]).second) return;
                   const auto asked = stored.find(r[0]);
                   const std::optional<Hash128> hash = Hash128::from_hex(r[1]);
                   if (asked == stored.end() || !hash) return;
                   const RecordedOrigin origin{
                       *hash, static_cast<int>(to_ll(r[2])), r[3], r[4], r[5], r[6]};
                   for (const std::string* p : asked->second) found[*p] = origin;
                 });
  }
  return found;
}

std::optional<RecordedOrigin> ledger_origin_at(Database& db, const std::string& path) {
  std::map<std::string, RecordedOrigin> found = ledger_origins_at(db, {path});
  if (found.empty()) return std::nullopt;
  return std::move(found.begin()->second);
}

bool ledger_store(Database& db, const std::vector<LedgerEntry*>& entries, bool durable) {
  // The whole batch goes in one transaction (one flush of the database file), on a
  // connection no other thread uses meanwhile.
  Database::Locked lock(db);
  if (!db.exec("begin transaction")) return false;
  std::vector<std::pair<LedgerEntry*, long long>> keyed;  // keys to undo on a rollback
  const std::string now = db_now_text();
  bool ok;
  if (!db.dialect().reserve_keys("ledger", "ledger_sk", 1).empty()) {
    ok = store_many(db, entries, durable, now, keyed);
  } else {
    LedgerInserts inserts(db);
    ok = inserts.ready();
    for (LedgerEntry* e : entries) {
      if (!ok) break;
      if (e->key < 0) {
        if (!(ok = insert_entry(db, inserts, *e, now))) break;
        keyed.emplace_back(e, -1);
      } else if (!e->damage_stored && !(ok = store_damage(inserts, *e))) {
        break;
      }
      for (const LedgerCopy& c : e->copies)
        if (!c.stored && c.state != CopyState::kPending &&
            !(ok = store_copy(db.archive_roots(), inserts, e->key, c, durable)))
          break;
    }
  }  // the statements are finished before the transaction ends
  if (ok && db.exec("commit")) {
    for (LedgerEntry* e : entries) {
      e->damage_stored = true;
      for (LedgerCopy& c : e->copies)
        if (c.state != CopyState::kPending &&
            (durable || c.state == CopyState::kWritten || c.state == CopyState::kBad ||
             c.state == CopyState::kChanging))
          c.stored = true;
    }
    return true;
  }
  db.exec_quiet("rollback transaction");
  for (auto& [e, key] : keyed) e->key = key;
  return false;
}

bool ledger_index_recent(Database& db) {
  return db.exec("update ledger set recent = null where recent = 1");
}

bool ledger_rename_folder(Database& db, const std::string& from, const std::string& to) {
  // Compared byte for byte, not with LIKE (folder names may hold "%" and "_") and not by
  // characters (lengths here count bytes).
  // Below a named archive root the paths inside it are renamed, and a folder moved into or
  // out of one takes its copies along. The root's name is compared as an expression, not
  // through the key's index: the rows are then updated in the order they lie in the table, so
  // a server, which orders rows written by one statement by their place, keeps the newest
  // copy at a path the newest (ledger_origin_at).
  const StoredPlace old_place = stored_place(db.archive_roots(), from, from, "");
  const StoredPlace new_place = stored_place(db.archive_roots(), to, to, "");
  const std::string prefix = old_place.path + "/";
  const SqlDialect& d = db.dialect();
  const std::string rest = d.text_of("substr(" + d.bytes_of("path") + ", %d)");
  const std::string head = "substr(" + d.bytes_of("path") + ", 1, %d) = " + d.bytes_of("%Q");
  const std::string statement =
      "update ledger_copy set root_name = %Q, path = %Q || " + rest + " where root_name || '' = "
      "%Q and " + head;
  auto sql = sql_format(statement.c_str(), new_place.name.c_str(), new_place.path.c_str(),
                        static_cast<int>(old_place.path.size()) + 1, old_place.name.c_str(),
                        static_cast<int>(prefix.size()), prefix.c_str());
  return sql && db.exec(*sql);
}

bool manifest_add(Database& db, int ingestion_id, const ManifestRecord& m) {
  const std::string now = db_now_text();
  const StoredPlace place = stored_place(db.archive_roots(), m.root, m.path, m.unmapped_root);
  auto sql = sql_format(
      "insert into manifest (ingestion_id, root, path, written_dt, root_name) "
      "values(%d, %Q, %Q, %Q, %Q)",
      ingestion_id, place.root.c_str(), place.path.c_str(), now.c_str(), place.name.c_str());
  return sql && db.exec(*sql);
}

std::optional<std::vector<ManifestRecord>> manifests_of(Database& db, int ingestion_id) {
  auto sql = sql_format(
      "select root, path, root_name from manifest where ingestion_id = %d order by "
      "manifest_sk",
      ingestion_id);
  if (!sql) return std::nullopt;
  auto rows = db.query(*sql);
  if (!rows) return std::nullopt;
  std::vector<ManifestRecord> out;
  for (const std::vector<std::string>& r : rows->rows) {
    ManifestRecord m{r[0], r[1], ""};
    if (!local_place(db.archive_roots(), r[2], m.root, m.path)) m.unmapped_root = r[2];
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace cw
