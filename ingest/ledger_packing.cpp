// Packing and unpacking of ledger entries.
//
// Layout of an entry: key, ingestion, the numbers of the card's label and UUID and of the
// camera serial, source, size, modification time, capture time, hash (16 bytes), damage with
// its text and flag, then the number of copies and each copy: a byte of flags, a byte of
// states, the number of its root, its path (the part after the root when it begins with it),
// the number of the name of the archive root it lies below when this station does not map it,
// size, hash when it is neither absent nor the entry's, and fingerprint when present.
// Integers are LEB128, signed ones zigzagged first; texts are a length and their bytes. The
// source and the copies' paths are a path: the number of its folder (everything up to its
// last "/", which the images of one folder share) and its name as a text.
#include "ingest/ledger_packing.h"

#include <cstring>

namespace cw {

// A field added to these records must be added to the packing too, or a packed entry would
// lose it: the sizes below make such a change fail to build until it is.
static_assert(sizeof(LedgerCopy) == 200, "LedgerCopy changed: update pack_entry/unpack_entry");
static_assert(sizeof(LedgerEntry) == 280, "LedgerEntry changed: update pack_entry/unpack_entry");

namespace {

// Copy flags.
constexpr std::uint8_t kTreeMask = 0x03;
constexpr std::uint8_t kHashOwn = 0x04;      // the copy has a hash of its own
constexpr std::uint8_t kHashSame = 0x08;     // the copy's hash is the entry's
constexpr std::uint8_t kFingerprint = 0x10;
constexpr std::uint8_t kStored = 0x20;
constexpr std::uint8_t kChecked = 0x40;
constexpr std::uint8_t kChangedSinceProven = 0x80;
// In the byte of states: state in the low nibble, the state before a change in bits 4-6.
constexpr std::uint8_t kPathBelowRoot = 0x80;

// Writes into a buffer made at once large enough for most entries: an entry is packed several
// times in a run, and a buffer grown from nothing reallocated about five times an entry.
class Writer {
 public:
  Writer() { out_.reserve(512); }
  void byte(std::uint8_t b) { out_.push_back(static_cast<char>(b)); }
  void unsigned_int(std::uint64_t v) {
    while (v >= 0x80) {
      byte(static_cast<std::uint8_t>(v | 0x80));
      v >>= 7;
    }
    byte(static_cast<std::uint8_t>(v));
  }
  void signed_int(std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    unsigned_int((u << 1) ^ (v < 0 ? ~std::uint64_t{0} : 0));
  }
  void text(std::string_view t) {
    unsigned_int(t.size());
    out_.append(t);
  }
  void path(std::string_view p, PackedTexts& texts) {
    const std::size_t name = p.find_last_of('/') + 1;  // 0 without a folder
    unsigned_int(texts.number_of(p.substr(0, name)));
    text(p.substr(name));
  }
  void hash(const Hash128& h) {
    unsigned_int_fixed(h.high);
    unsigned_int_fixed(h.low);
  }
  std::unique_ptr<std::uint8_t[]> take() const {
    auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(out_.size());
    std::memcpy(bytes.get(), out_.data(), out_.size());
    return bytes;
  }

 private:
  void unsigned_int_fixed(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) byte(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::string out_;
};

class Reader {
 public:
  explicit Reader(const std::uint8_t* at) : at_(at) {}
  std::uint8_t byte() { return *at_++; }
  std::uint64_t unsigned_int() {
    std::uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      const std::uint8_t b = byte();
      v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
  }
  std::int64_t signed_int() {
    const std::uint64_t u = unsigned_int();
    return static_cast<std::int64_t>((u >> 1) ^ (~(u & 1) + 1));
  }
  std::string_view text_view() {
    const std::size_t n = unsigned_int();
    const std::string_view t(reinterpret_cast<const char*>(at_), n);
    at_ += n;
    return t;
  }
  void text(std::string& out) { out.assign(text_view()); }
  // A path written by Writer::path, after `prefix`, into `out` (its storage reused, else made
  // in one allocation).
  void path(const PackedTexts& texts, std::string_view prefix, std::string& out) {
    const std::string& folder = texts.text(static_cast<std::uint32_t>(unsigned_int()));
    const std::string_view name = text_view();
    out.clear();
    out.reserve(prefix.size() + folder.size() + name.size());
    out.append(prefix).append(folder).append(name);
  }
  Hash128 hash() {
    Hash128 h;
    h.high = unsigned_int_fixed();
    h.low = unsigned_int_fixed();
    return h;
  }

 private:
  std::uint64_t unsigned_int_fixed() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(byte()) << (8 * i);
    return v;
  }
  const std::uint8_t* at_;
};

void pack_copy(Writer& w, const LedgerCopy& c, const Hash128& entry_hash, PackedTexts& texts) {
  std::uint8_t flags = static_cast<std::uint8_t>(c.tree) & kTreeMask;
  if (c.hash) flags |= *c.hash == entry_hash ? kHashSame : kHashOwn;
  if (c.fingerprint) flags |= kFingerprint;
  if (c.stored) flags |= kStored;
  if (c.checked) flags |= kChecked;
  if (c.changed_since_proven) flags |= kChangedSinceProven;
  const bool below_root = !c.root.empty() && c.path.size() > c.root.size() &&
                          c.path.compare(0, c.root.size(), c.root) == 0;
  w.byte(flags);
  w.byte(static_cast<std::uint8_t>(static_cast<unsigned>(c.state) |
                                   static_cast<unsigned>(c.before_change) << 4 |
                                   (below_root ? kPathBelowRoot : 0)));
  w.unsigned_int(texts.number_of(c.root));
  w.path(below_root ? std::string_view(c.path).substr(c.root.size()) : std::string_view(c.path),
         texts);
  w.unsigned_int(texts.number_of(c.unmapped_root));
  w.unsigned_int(c.size);
  if (flags & kHashOwn) w.hash(*c.hash);
  if (c.fingerprint) {
    const Fingerprint& f = *c.fingerprint;
    w.unsigned_int(f.device);
    w.unsigned_int(f.inode);
    w.unsigned_int(f.size);
    w.signed_int(f.modified_ns);
    // The change time is mostly close to the modification time: kept as the difference
    // (wrapping, so that any two times give it back).
    w.signed_int(static_cast<std::int64_t>(static_cast<std::uint64_t>(f.changed_ns) -
                                           static_cast<std::uint64_t>(f.modified_ns)));
  }
}

// Sets every field of `c`.
void unpack_copy(Reader& r, const Hash128& entry_hash, const PackedTexts& texts, LedgerCopy& c) {
  const std::uint8_t flags = r.byte();
  const std::uint8_t states = r.byte();
  c.tree = static_cast<CopyTree>(flags & kTreeMask);
  c.state = static_cast<CopyState>(states & 0x0f);
  c.before_change = static_cast<CopyState>((states >> 4) & 0x07);
  c.root = texts.text(static_cast<std::uint32_t>(r.unsigned_int()));
  r.path(texts, (states & kPathBelowRoot) ? std::string_view(c.root) : "", c.path);
  c.unmapped_root = texts.text(static_cast<std::uint32_t>(r.unsigned_int()));
  c.size = r.unsigned_int();
  c.hash.reset();
  if (flags & kHashSame) c.hash = entry_hash;
  if (flags & kHashOwn) c.hash = r.hash();
  c.fingerprint.reset();
  if (flags & kFingerprint) {
    Fingerprint f;
    f.device = r.unsigned_int();
    f.inode = r.unsigned_int();
    f.size = r.unsigned_int();
    f.modified_ns = r.signed_int();
    f.changed_ns = static_cast<std::int64_t>(static_cast<std::uint64_t>(r.signed_int()) +
                                             static_cast<std::uint64_t>(f.modified_ns));
    c.fingerprint = f;
  }
  c.stored = flags & kStored;
  c.checked = flags & kChecked;
  c.changed_since_proven = flags & kChangedSinceProven;
}

}  // namespace

std::uint32_t PackedTexts::number_of(std::string_view text) {
  if (auto it = numbers_.find(text); it != numbers_.end()) return it->second;
  const auto number = static_cast<std::uint32_t>(texts_.size());
  texts_.emplace_back(text);
  numbers_.emplace(texts_.back(), number);
  return number;
}

std::unique_ptr<std::uint8_t[]> pack_entry(const LedgerEntry& e, PackedTexts& texts) {
  Writer w;
  w.signed_int(e.key);
  w.signed_int(e.ingestion_id);
  w.unsigned_int(texts.number_of(e.card_label));
  w.unsigned_int(texts.number_of(e.card_uuid));
  w.unsigned_int(texts.number_of(e.camera_serial));
  w.path(e.source, texts);
  w.unsigned_int(e.size);
  w.signed_int(e.modified);
  w.text(e.captured);
  w.hash(e.hash);
  w.byte(static_cast<std::uint8_t>(static_cast<unsigned>(e.damage) | (e.damage_stored ? 0x80 : 0)));
  w.text(e.damage_text);
  w.unsigned_int(e.copies.size());
  for (const LedgerCopy& c : e.copies) pack_copy(w, c, e.hash, texts);
  return w.take();
}

LedgerEntry unpack_entry(const std::uint8_t* packed, const PackedTexts& texts) {
  LedgerEntry e;
  unpack_entry_into(packed, texts, e);
  return e;
}

void unpack_entry_into(const std::uint8_t* packed, const PackedTexts& texts, LedgerEntry& e) {
  Reader r(packed);
  e.key = r.signed_int();
  e.ingestion_id = static_cast<int>(r.signed_int());
  e.card_label = texts.text(static_cast<std::uint32_t>(r.unsigned_int()));
  e.card_uuid = texts.text(static_cast<std::uint32_t>(r.unsigned_int()));
  e.camera_serial = texts.text(static_cast<std::uint32_t>(r.unsigned_int()));
  r.path(texts, {}, e.source);
  e.size = r.unsigned_int();
  e.modified = r.signed_int();
  r.text(e.captured);
  e.hash = r.hash();
  const std::uint8_t damage = r.byte();
  e.damage = static_cast<Damage>(damage & 0x7f);
  e.damage_stored = damage & 0x80;
  r.text(e.damage_text);
  e.copies.resize(r.unsigned_int());
  for (LedgerCopy& c : e.copies) unpack_copy(r, e.hash, texts, c);
}

}  // namespace cw
