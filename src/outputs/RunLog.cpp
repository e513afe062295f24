#include "outputs/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <streambuf>

#include "core/RunEnd.h"
#include "core/Version.h"

namespace ombra {

namespace {

// Passes everything on to standard output's own buffer and keeps a copy.
class TeeBuffer : public std::streambuf {
 public:
  explicit TeeBuffer(std::streambuf* target) : target_(target) {}
  std::string text;
  std::streambuf* target() const { return target_; }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    text.push_back(static_cast<char>(c));
    return target_->sputc(static_cast<char>(c));
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    text.append(data, static_cast<size_t>(size));
    return target_->sputn(data, size);
  }
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
};

struct Log {
  std::string path;
  std::string header;
  std::string facts;  // whole lines, between the header and what the run printed
  std::unique_ptr<TeeBuffer> tee;
};

Log& current() {
  static Log log;
  return log;
}

std::string now() {
  const std::time_t t = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

// A word of the command line as a shell would need it.
std::string quoted(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n'\"\\$`*?;&|<>()#~") == std::string::npos) return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
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
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
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
  log.header = versionText() + "Command:";
  for (int i = 0; i < argc; ++i) log.header += " " + quoted(argv[i]);
  log.header += "\nStart: " + now() + "\n\n";
  std::cout.flush();
  log.tee = std::make_unique<TeeBuffer>(std::cout.rdbuf());
  std::cout.rdbuf(log.tee.get());
}

void noteRunFact(const std::string& text) {
  Log& log = current();
  if (log.tee) log.facts += text;
}

void noteInRunLog(const std::string& text) {
  Log& log = current();
  if (!log.tee) return;
  std::cout.flush();
  log.tee->text += text;
}

namespace {
// An ending run finishes its log last, after its outputs are settled.
const bool finishRegistered = (setFinishLog(finishRunLog), true);
}  // namespace

int finishRunLog(int status) {
  Log& log = current();
  if (!log.tee) return status;
  std::cout.flush();
  std::cout.rdbuf(log.tee->target());
  std::string text = log.header + log.facts + (log.facts.empty() ? "" : "\n") + log.tee->text;
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += "\nEnd: " + now() + " (exit status " + std::to_string(status) + ")\n";
  log.tee.reset();
  const std::string failure = writeWhole(log.path, text);
  if (failure.empty() || status != 0) return status;
  std::cout << "Write File " << log.path << " failed! " << failure << "\n";
  std::cout.flush();
  return 1;
}

}  // namespace ombra
