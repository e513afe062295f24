#include "outputs/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <streambuf>

#include "core/OutputFile.h"
#include "core/RunEnd.h"
#include "core/Version.h"

namespace ombra {

namespace {

// Text that only grows and that a signal handler may read at any moment:
// its bytes sit in blocks that are never moved or freed, and each block's
// length is published after its bytes.
class GrowingText {
 public:
  void append(const char* data, size_t size) {
    while (size > 0) {
      size_t used = last->used.load(std::memory_order_relaxed);
      if (used == kBlockSize) {
        Block* next = last->next.load(std::memory_order_relaxed);
        if (next == nullptr) {
          next = new Block;
          last->next.store(next, std::memory_order_release);
        }
        last = next;
        used = 0;
      }
      const size_t part = std::min(size, kBlockSize - used);
      std::memcpy(last->bytes + used, data, part);
      last->used.store(used + part, std::memory_order_release);
      data += part;
      size -= part;
    }
  }
  void append(const std::string& text) { append(text.data(), text.size()); }
  bool empty() const { return first.used.load() == 0; }
  std::string str() const {
    std::string text;
    forEachPart([&text](const char* data, size_t size) { text.append(data, size); });
    return text;
  }
  // Calls `use(data, size)` for every part of the text, in order; safe in a
  // signal handler.
  template <typename Use>
  void forEachPart(Use use) const {
    for (const Block* block = &first; block != nullptr; block = block->next.load(std::memory_order_acquire)) {
      const size_t used = block->used.load(std::memory_order_acquire);
      if (used == 0) return;
      use(block->bytes, used);
    }
  }
  // Empties the text, keeping its blocks for the next log of the process.
  void clear() {
    for (Block* block = &first; block != nullptr; block = block->next.load()) block->used.store(0);
    last = &first;
  }

 private:
  static constexpr size_t kBlockSize = 1 << 16;
  struct Block {
    char bytes[kBlockSize];
    std::atomic<size_t> used{0};
    std::atomic<Block*> next{nullptr};
  };
  Block first;
  Block* last = &first;
};

// Passes everything on to standard output's own buffer and keeps a copy,
// which stays whole when standard output fails: the first failure's reason
// is kept for the end of the run.
class TeeBuffer : public std::streambuf {
 public:
  TeeBuffer(std::streambuf* target, GrowingText& text) : target_(target), text_(text) {}
  std::streambuf* target() const { return target_; }
  int failure() const { return failure_; }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char byte = static_cast<char>(c);
    text_.append(&byte, 1);
    if (target_->sputc(byte) == traits_type::eof()) noteFailure();
    return c;
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    text_.append(data, static_cast<size_t>(size));
    if (target_->sputn(data, size) != size) noteFailure();
    return size;
  }
  int sync() override {
    if (target_->pubsync() != 0) noteFailure();
    return 0;
  }

 private:
  void noteFailure() {
    if (failure_ == 0) failure_ = errno != 0 ? errno : EIO;
  }

  std::streambuf* target_;
  GrowingText& text_;
  int failure_ = 0;
};

struct Log {
  std::string path;
  std::string header;
  GrowingText facts;  // whole lines, between the header and what the run printed
  GrowingText text;   // what the run printed
  std::unique_ptr<TeeBuffer> tee;
  // For the log of a run ended by a signal, made ready at its start.
  std::string signalTemporary;
  mode_t mode = 0644;
};

Log& current() {
  static Log log;
  return log;
}

// Set while a log is kept and its header is ready: the signal handler writes
// the log only then.
std::atomic<bool> logKept{false};

// "YYYY-MM-DD HH:MM:SS UTC" of `seconds` since 1970, into `out`; plain
// arithmetic, safe in a signal handler.
void utcText(long long seconds, char (&out)[24]) {
  const long long days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  long long second = seconds - days * 86400;
  // The civil date of a day count (Howard Hinnant's days_from_civil, inverted).
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long dayOfEra = z - era * 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long shifted = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const long long month = shifted < 10 ? shifted + 3 : shifted - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const long long fields[] = {year, month, day, second / 3600, second / 60 % 60, second % 60};
  const char separators[] = {'-', '-', ' ', ':', ':', ' '};
  size_t at = 0;
  for (size_t k = 0; k < 6; ++k) {
    const int width = k == 0 ? 4 : 2;
    long long value = fields[k];
    for (int d = width - 1; d >= 0; --d) {
      out[at + static_cast<size_t>(d)] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    at += static_cast<size_t>(width);
    out[at++] = separators[k];
  }
  out[at++] = 'U';
  out[at++] = 'T';
  out[at++] = 'C';
  out[at] = '\0';
}

std::string now() {
  char text[24];
  utcText(static_cast<long long>(std::time(nullptr)), text);
  return text;
}

// A word of the command line as a shell would need it.
std::string quoted(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n'\"\\$`*?;&|<>()#~") == std::string::npos) return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Writes `text` to `path` through a temporary file beside it and a rename;
// the system's reason on failure, "" on success.
std::string writeWhole(const std::string& path, const std::string& text) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temporary = folder + "." + base.substr(0, 200) + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) return std::strerror(errno);
  fchmod(fd, newFileMode());
  size_t done = 0;
  int error = 0;
  while (done < text.size() && error == 0) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno != EINTR) error = errno;
    if (wrote > 0) done += static_cast<size_t>(wrote);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    return std::strerror(error);
  }
  return std::string();
}

// write(2) of all of `data`; false on any failure. Safe in a signal handler.
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t wrote = write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

// The log of a run ended by a signal, written from the handler with
// async-signal-safe calls only: what the run printed, the handler's `line`
// and the end with `status`, as finishRunLog would write them.
void writeSignalLog(const char* line, int status) {
  if (!logKept.load(std::memory_order_acquire)) return;
  const Log& log = current();
  const int fd = open(log.signalTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, log.mode);
  if (fd < 0) return;
  bool written = writeAll(fd, log.header.data(), log.header.size());
  const auto put = [&](const char* data, size_t size) { written = written && writeAll(fd, data, size); };
  log.facts.forEachPart(put);
  if (!log.facts.empty()) put("\n", 1);
  char lastByte = '\n';
  log.text.forEachPart([&](const char* data, size_t size) {
    put(data, size);
    lastByte = data[size - 1];
  });
  if (lastByte != '\n') put("\n", 1);
  put(line, std::strlen(line));
  char end[24];
  struct timespec clock {};
  clock_gettime(CLOCK_REALTIME, &clock);
  utcText(static_cast<long long>(clock.tv_sec), end);
  char code[4] = {static_cast<char>('0' + status / 100 % 10), static_cast<char>('0' + status / 10 % 10),
                  static_cast<char>('0' + status % 10), '\0'};
  put("\nEnd: ", 6);
  put(end, std::strlen(end));
  put(" (exit status ", 14);
  put(code + (status < 100 ? 1 : 0), std::strlen(code + (status < 100 ? 1 : 0)));
  put(")\n", 2);
  if (close(fd) != 0 || !written || rename(log.signalTemporary.c_str(), log.path.c_str()) != 0) {
    unlink(log.signalTemporary.c_str());
  }
}

// The hidden name, beside the log, of the log a signal writes.
std::string signalTemporaryFor(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + base.substr(0, 200) + "." + std::to_string(getpid());
}

}  // namespace

std::string logNameFor(const std::string& output) {
  std::string name = output;
  const auto strip = [&name](const char* suffix) {
    const size_t length = std::strlen(suffix);
    if (name.size() > length && name.compare(name.size() - length, length, suffix) == 0) name.resize(name.size() - length);
  };
  strip(".gz");
  const size_t slash = name.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;  // the file name itself
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > start) name.resize(dot);
  return name + ".log";
}

void startRunLog(const std::string& path, int argc, char** argv) {
  Log& log = current();
  if (log.tee) return;
  log.path = path;
  log.facts.clear();
  log.text.clear();
  log.header = versionText() + "Command:";
  for (int i = 0; i < argc; ++i) log.header += " " + quoted(argv[i]);
  log.header += "\nStart: " + now() + "\n\n";
  log.signalTemporary = signalTemporaryFor(path);
  log.mode = newFileMode();
  std::cout.flush();
  log.tee = std::make_unique<TeeBuffer>(std::cout.rdbuf(), log.text);
  std::cout.rdbuf(log.tee.get());
  logKept.store(true, std::memory_order_release);
}

void noteRunFact(const std::string& text) {
  Log& log = current();
  if (log.tee) log.facts.append(text);
}

void noteInRunLog(const std::string& text) {
  Log& log = current();
  if (!log.tee) return;
  std::cout.flush();
  log.text.append(text);
}

namespace {
// An ending run finishes its log last, after its outputs are settled; a run
// ended by a signal finishes it in the handler.
const bool finishRegistered = (setFinishLog(finishRunLog), setSignalLog(writeSignalLog), true);
}  // namespace

int finishRunLog(int status) {
  Log& log = current();
  if (!log.tee) return status;
  const RunSettling settling;  // no signal writes the log from here on
  logKept.store(false);
  std::cout.flush();
  std::cout.rdbuf(log.tee->target());
  int failure = log.tee->failure();
  errno = 0;
  if (failure == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) failure = errno != 0 ? errno : EIO;
  log.tee.reset();
  std::string text = log.header + log.facts.str() + (log.facts.empty() ? "" : "\n") + log.text.str();
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (failure != 0) {
    // Nothing more reaches standard output: the log and standard error say it.
    const std::string line = std::string("Standard output could not be written: ") + std::strerror(failure) + "\n";
    text += line;
    std::cerr << line;
    if (status == 0) status = 1;
  }
  text += "\nEnd: " + now() + " (exit status " + std::to_string(status) + ")\n";
  const std::string refusal = writeWhole(log.path, text);
  if (refusal.empty() || status != 0) return status;
  std::cout << "Write File " << log.path << " failed! " << refusal << "\n";
  std::cout.flush();
  return 1;
}

}  // namespace ombra
