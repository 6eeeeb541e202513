// GPS tag writing through ExifTool.
#include "gps/tag_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace cw {

namespace {

constexpr int kPollMilliseconds = 250;
constexpr auto kEndGrace = std::chrono::milliseconds(2000);

// How much of ExifTool's error output is kept.
constexpr std::size_t kToolOutputSize = 1000;

// How many tagged files are made durable together before they replace their images.
constexpr std::size_t kSyncBatch = 32;

// "%f" of a value without the locale's say in the decimal point: ExifTool reads ".".
std::string six_decimals(float value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, std::fabs(static_cast<double>(value)),
                                 std::chars_format::fixed, 6);
  return ec == std::errc() ? std::string(text, end) : "0.000000";
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

void sync_folder(const std::string& folder) {
  const int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
}

// Moves the complete tagged file over the image once it is on the disk, with the image's
// permissions; `on_disk` says the file system was synced after ExifTool closed the file, else
// the file is synced here. The image's folder joins `folders`, whose renames the writer makes
// durable when it ends: until then a crash leaves each image as it was or fully tagged all the
// same. False with `why` set when it cannot.
bool replace_with_temp(const std::string& temp, const std::string& image, bool on_disk,
                       std::string& why, std::set<std::string>& folders) {
  struct stat st;
  if (::stat(image.c_str(), &st) != 0) {
    why = "can't get stat of " + image;
    return false;
  }
  const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = "ExifTool wrote no file " + temp;
    return false;
  }
  const bool synced = on_disk || ::fsync(fd) == 0;
  ::fchmod(fd, st.st_mode & 07777);
  ::close(fd);
  if (!synced || ::rename(temp.c_str(), image.c_str()) != 0) {
    why = "can't rename " + temp + " to " + image;
    return false;
  }
  const std::size_t slash = image.find_last_of('/');
  folders.insert(slash == std::string::npos ? "." : image.substr(0, slash + 1));
  return true;
}

// Syncs the file systems that hold `files` (one syncfs each): true when every one of them
// reported its data written. One flush for a batch of small files costs what one fsync costs.
bool sync_file_systems(const std::vector<std::string>& files) {
  std::set<dev_t> done;
  bool ok = true;
  for (const std::string& file : files) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      ok = false;
      continue;
    }
    if (done.insert(st.st_dev).second && ::syncfs(fd) != 0) ok = false;
    ::close(fd);
  }
  return ok;
}

// True when ExifTool can read `arg` as one line of its argument input: no line break or other
// control character, and no white space at its end (a line loses that).
bool fits_a_line(const std::string& arg) {
  for (unsigned char c : arg)
    if (c < 0x20 || c == 0x7f) return false;
  return arg.empty() || arg.back() != ' ';
}

bool write_all(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

std::string current_folder() {
  char folder[PATH_MAX];
  return ::getcwd(folder, sizeof folder) ? folder : "?";
}

}  // namespace

std::string tagged_temp_path(const std::string& image) { return image + "-cwtmp"; }

std::vector<std::string> exiftool_args(const std::string& exiftool, const GpsPosition& where,
                                       const std::string& image, const std::string& output) {
  // A file name that begins with "-" would read as an option; in the argument input one that
  // begins with "#" would read as a comment and white space at its start would be lost.
  auto argument = [](const std::string& path) {
    std::string file = system_path(path);
    if (!file.empty() && (file.front() == '-' || file.front() == '#' || file.front() == ' ' ||
                          file.front() == '\t'))
      file.insert(0, "./");
    return file;
  };
  // -q keeps ExifTool's "1 image files updated" off our standard output (a script may be
  // reading it); its errors and warnings still come on standard error. -P gives the new file
  // the image's modification time; -o writes it instead of changing the image.
  return {exiftool,
          "-q",
          "-m",
          "-P",
          "-o",
          argument(output),
          std::string("-gps:GPSLatitudeRef=") + (where.lat >= 0 ? "N" : "S"),
          "-gps:GPSLatitude=" + six_decimals(where.lat),
          std::string("-gps:GPSLongitudeRef=") + (where.lon >= 0 ? "E" : "W"),
          "-gps:GPSLongitude=" + six_decimals(where.lon),
          std::string("-gps:GPSAltitudeRef=") + (where.ele >= 0 ? "above" : "below"),
          "-gps:GPSAltitude=" + six_decimals(where.ele),
          argument(image)};
}

std::string exiftool_missing_message(const std::string& exiftool) {
  const char* shown = exiftool.empty() ? kExifToolName : exiftool.c_str();
  return format_limited(1000,
                        "\nERROR: ExifTool must be installed as %s. Get it from "
                        "https://exiftool.org/ (on Debian: apt install "
                        "libimage-exiftool-perl).\n",
                        shown);
}

std::string untaggable_line(const GpsTagCounts& counts) {
  if (counts.untaggable.empty()) return {};
  std::string line = format_limited(100, "\t%d video(s) cannot carry GPS tags:",
                                    static_cast<int>(counts.untaggable.size()));
  for (std::size_t i = 0; i < counts.untaggable.size(); ++i)
    line += (i ? ", " : " ") + counts.untaggable[i];
  return line + "\n";
}

std::string exiftool_searched(const std::string& exiftool) {
  const std::string name = exiftool.empty() ? kExifToolName : exiftool;
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  return name + " in PATH (" + (path && *path ? path : "/usr/local/bin:/usr/bin:/bin") + ")";
}

TagWriter::~TagWriter() {
  end(false);
  for (const std::string& folder : folders_) sync_folder(folder);
}

bool TagWriter::start(std::string& why) {
  int in[2], out[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
    why = "can't create a socket for ExifTool";
    return false;
  }
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    why = "can't create a pipe for ExifTool";
    return false;
  }
  const std::vector<std::string> argv_text = {exiftool_, "-stay_open", "True", "-@", "-"};
  // Bound to this process: a run that is killed does not leave ExifTool waiting for
  // commands that never come (it reads on at the end of its input).
  const int rc = spawn_bound_to_us(
      exiftool_, argv_text, {{in[1], STDIN_FILENO}, {out[1], STDOUT_FILENO}, {out[1], STDERR_FILENO}},
      pid_, lifeline_);
  ::close(in[1]);
  ::close(out[1]);
  input_ = in[0];
  output_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    end(true);
    why = format_limited(1000, "Can't execute: %s (error code = %ld)", exiftool_.c_str(),
                         static_cast<long>(rc));
    return false;
  }
  ++started_;
  log_printf("ExifTool started: %s", quoted_command_line(argv_text).c_str());
  return true;
}

void TagWriter::end(bool force) {
  if (input_ >= 0 && !force) write_all(input_, "-stay_open\nFalse\n");
  if (input_ >= 0) ::close(input_);
  input_ = -1;
  if (pid_ > 0) {
    if (force) ::kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kEndGrace;
    int status = 0;
    pid_t w = 0;
    while ((w = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (w == 0) {
      ::kill(-pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    ::kill(-pid_, SIGKILL);  // whatever it left behind in its group
  }
  pid_ = -1;
  if (lifeline_ >= 0) ::close(lifeline_);
  lifeline_ = -1;
  if (output_ >= 0) ::close(output_);
  output_ = -1;
  pending_.clear();
  answered_ = executed_;  // what was sent and not answered never will be
}

bool TagWriter::run(const std::vector<std::string>& args, std::string& output,
                    const StopSource& stop) {
  return send(args, output) && answer(output, stop);
}

bool TagWriter::send(const std::vector<std::string>& args, std::string& why) {
  why.clear();
  if (pid_ < 0 && !start(why)) return false;
  std::string lines;
  for (const std::string& a : args) lines += a + "\n";
  lines += "-execute" + std::to_string(++executed_) + "\n";
  if (!write_all(input_, lines)) {
    end(true);
    why = "ExifTool ended unexpectedly";
    return false;
  }
  return true;
}

bool TagWriter::answer(std::string& output, const StopSource& stop) {
  output.clear();
  const std::string answer = "{ready" + std::to_string(++answered_) + "}";
  if (pid_ < 0) {
    output = "ExifTool ended unexpectedly";
    return false;
  }
  std::string said;
  for (;;) {
    const std::size_t at = pending_.find(answer + "\n");
    if (at != std::string::npos) {
      said = pending_.substr(0, at);
      pending_.erase(0, at + answer.size() + 1);
      break;
    }
    if (stop && stop()) {
      end(true);
      output = "Stopped";
      return false;
    }
    struct pollfd fd = {output_, POLLIN, 0};
    if (::poll(&fd, 1, kPollMilliseconds) <= 0) continue;
    char piece[4096];
    const ssize_t n = ::read(output_, piece, sizeof piece);
    if (n > 0) {
      pending_.append(piece, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      said = pending_;
      end(true);
      output = said.empty() ? "ExifTool ended unexpectedly" : first_line(said);
      return false;
    }
  }
  truncate_to(said, kToolOutputSize);
  output = first_line(said.substr(said.find_first_not_of("\r\n") == std::string::npos
                                      ? said.size()
                                      : said.find_first_not_of("\r\n")));
  return true;
}

namespace {

// An image on its way through ExifTool.
struct Pending {
  std::string image;
  std::string temp;
  bool sent = false;  // to the writer, whose answer is still to come
  bool ok = false;    // otherwise: how ExifTool's run of its own ended
  std::string output;
};

// Counts an image that needs no ExifTool, or starts its tagging: sent to the writer when its
// arguments fit lines, else run by an ExifTool of its own at once. Nothing when counted.
std::optional<Pending> begin_tagging(const GpsRunSettings& gps, TagWriter& writer,
                                     const std::string& image, GpsTagCounts& counts,
                                     const StopSource& stop) {
  const std::size_t dot = image.find_last_of("./");
  if (gps.cannot_carry_tags && dot != std::string::npos && image[dot] == '.' &&
      gps.cannot_carry_tags(std::string_view(image).substr(dot + 1))) {
    counts.untaggable.push_back(image);
    return std::nullopt;
  }
  GpsPosition where;
  std::int64_t adjustment = gps.adjustment;
  if (gps.image_adjustments)
    if (const auto own = gps.image_adjustments->find(image); own != gps.image_adjustments->end())
      adjustment += own->second;
  const GpsMatch match =
      gps.tracks ? gps.tracks->interpolate(image, adjustment, gps.video_times_local, where)
                 : GpsMatch::kOutOfRange;
  if (match != GpsMatch::kFound) {
    ++(match == GpsMatch::kOutOfRange ? counts.out_of_interval : counts.errors);
    return std::nullopt;
  }
  if (find_executable(gps.exiftool).empty()) {
    log_printf("ExifTool not found as %s; %s not tagged", exiftool_searched(gps.exiftool).c_str(),
               image.c_str());
    ++counts.errors;
    return std::nullopt;
  }
  // A file of this name is a tagging that never finished: ExifTool writes no file over it.
  Pending p;
  p.image = image;
  p.temp = tagged_temp_path(image);
  ::unlink(p.temp.c_str());
  const std::vector<std::string> args = exiftool_args(gps.exiftool, where, image, p.temp);
  log_printf("ExifTool command line: %s", quoted_command_line(args).c_str());
  if (std::all_of(args.begin(), args.end(), fits_a_line)) {
    p.sent = writer.send(std::vector<std::string>(args.begin() + 1, args.end()), p.output);
  } else {
    p.ok = run_program(gps.exiftool, args, p.output, kToolOutputSize, stop);
    log_printf("ExifTool run %s", p.ok ? "succeeded" : "failed");
  }
  return p;
}

// Waits for ExifTool's answer when it is still to come; false when there is no tagged file
// to put in place (the reason, if any, in p.output).
bool await_answer(TagWriter& writer, Pending& p, const StopSource& stop) {
  if (p.sent) p.ok = writer.answer(p.output, stop);
  p.output = first_line(p.output);
  return p.ok && p.output.empty();
}

// Puts the tagged file in place of the image (or removes it) and counts the outcome.
bool settle(TagWriter& writer, Pending& p, bool answered, bool on_disk, GpsTagCounts& counts,
            std::string& results) {
  std::string line = p.output;
  const bool replaced =
      answered && replace_with_temp(p.temp, p.image, on_disk, line, writer.changed_folders());
  if (!replaced) ::unlink(p.temp.c_str());
  if (!line.empty()) text_append_printf(results, "ERROR processing %s: %s\n", p.image.c_str(), line.c_str());
  ++(replaced ? counts.tagged : counts.errors);
  return replaced;
}

}  // namespace

bool tag_image(const GpsRunSettings& gps, TagWriter& writer, const std::string& image,
               GpsTagCounts& counts, std::string& results, const StopSource& stop) {
  std::optional<Pending> p = begin_tagging(gps, writer, image, counts, stop);
  if (!p) return false;
  const bool answered = await_answer(writer, *p, stop);
  return settle(writer, *p, answered, false, counts, results);
}

bool tag_images(const GpsRunSettings& gps, TagWriter& writer, std::vector<std::string>& list,
                GpsTagCounts& counts, std::string& results, const StopSource& stop,
                const TagProgress& after) {
  if (find_executable(gps.exiftool).empty() && !gps.missing_reported->exchange(true)) {
    results += exiftool_missing_message(gps.exiftool);
    log_printf("ExifTool not found as %s", exiftool_searched(gps.exiftool).c_str());
    log_printf("Current directory is: \"%s\"", current_folder().c_str());
    list.clear();
    return false;
  }
  const int total = static_cast<int>(list.size());
  int done = 0;
  // Images whose tagged files ExifTool has written, waiting to replace them: a batch is made
  // durable by one sync of its file system, not one per image.
  std::vector<Pending> written;
  auto put_in_place = [&] {
    std::vector<std::string> temps;
    for (const Pending& p : written) temps.push_back(p.temp);
    const bool on_disk = !temps.empty() && sync_file_systems(temps);
    for (Pending& p : written) {
      settle(writer, p, true, on_disk, counts, results);
      if (after) after(p.image, ++done, total);
    }
    written.clear();
  };
  // One image stays with ExifTool while the answer to the one before it is taken.
  Pending waiting;
  bool is_waiting = false;
  auto finish_waiting = [&] {
    if (!is_waiting) return;
    is_waiting = false;
    if (await_answer(writer, waiting, stop)) {
      written.push_back(std::move(waiting));
      if (written.size() >= kSyncBatch) put_in_place();
      return;
    }
    settle(writer, waiting, false, false, counts, results);
    if (after) after(waiting.image, ++done, total);
  };
  for (const std::string& image : list) {
    if (stop && stop()) break;
    std::optional<Pending> p = begin_tagging(gps, writer, image, counts, stop);
    if (p && p->sent) {
      finish_waiting();
      waiting = std::move(*p);
      is_waiting = true;
      continue;
    }
    finish_waiting();
    if (p) settle(writer, *p, await_answer(writer, *p, stop), false, counts, results);
    if (after) after(image, ++done, total);
  }
  // After a stop the image sent last was not reached: ExifTool has ended without it. The
  // files ExifTool completed before the stop still replace their images.
  if (stop && stop() && is_waiting)
    ::unlink(waiting.temp.c_str());
  else
    finish_waiting();
  put_in_place();
  list.clear();
  return true;
}

}  // namespace cw
