// One output file: its temporary file beside the final name, the checked
// writes of its buffer, and its checked close.
#include "core/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/OutputRegistry.h"

namespace ombra {

namespace detail {

namespace {
// Large writes: recodings write hundreds of millions of small fields.
constexpr size_t kBufferSize = size_t{1} << 20;
}  // namespace

OutputSink::OutputSink(int descriptor) : fd(descriptor), buffer(new char[kBufferSize]) {
  setp(buffer.get(), buffer.get() + kBufferSize);
}

bool OutputSink::writeAll(const char* data, size_t size) {
  if (firstError != 0) return false;
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      firstError = written < 0 ? errno : EIO;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputSink::drain() {
  const size_t pending = static_cast<size_t>(pptr() - pbase());
  setp(buffer.get(), buffer.get() + kBufferSize);
  return writeAll(buffer.get(), pending);
}

OutputSink::int_type OutputSink::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize OutputSink::xsputn(const char* data, std::streamsize size) {
  const auto bytes = static_cast<size_t>(size);
  if (bytes > static_cast<size_t>(epptr() - pptr())) {
    if (!drain()) return 0;
    if (bytes >= kBufferSize) return writeAll(data, bytes) ? size : 0;
  }
  if (firstError != 0) return 0;
  std::memcpy(pptr(), data, bytes);
  pbump(static_cast<int>(bytes));
  return size;
}

}  // namespace detail

namespace {

// Where and how an output is written.
struct Destination {
  int refusal = 0;       // the system's reason (errno) when it cannot be created at all
  bool inPlace = false;  // a device or FIFO: written where it is
  std::string target;    // the file the output replaces: the name, or what its link names
  mode_t mode = 0;       // of the new file
};

// What open(2) gives a new file: 0666 less the umask.
mode_t createdMode() {
  static const mode_t mask = [] {
    const mode_t current = umask(0);
    umask(current);
    return current;
  }();
  return 0666 & ~mask;
}

Destination destinationOf(const std::string& path) {
  Destination where;
  where.target = path;
  where.mode = createdMode();
  if (path.empty() || path.back() == '/') {
    where.refusal = path.empty() ? ENOENT : EISDIR;
    return where;
  }
  if (isSystemFileName(path)) {
    where.inPlace = true;
    return where;
  }
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return where;
  if (S_ISDIR(status.st_mode)) {
    where.refusal = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    where.inPlace = true;
  } else {
    // A file the user may not write stays refused, as when it was opened in
    // place; a file that is replaced keeps its mode.
    where.refusal = access(path.c_str(), W_OK) != 0 ? errno : 0;
    where.mode = status.st_mode & 07777;
    struct stat link {};
    char* resolved = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) ? realpath(path.c_str(), nullptr)
                                                                                : nullptr;
    if (resolved != nullptr) where.target = resolved;
    std::free(resolved);
  }
  return where;
}

// ".NAME.XXXXXX" in the folder of `target`: hidden, and on the same file
// system, so that the rename replaces the final name in one step. A long
// NAME is shortened so that the temporary name stays within NAME_MAX.
std::string temporaryPattern(const std::string& target) {
  constexpr size_t kNameKept = 200;
  const size_t slash = target.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, start) + "." + target.substr(start, kNameKept) + ".XXXXXX";
}

}  // namespace

// No temporary file can be made beside a device node or a /proc entry, and
// /dev/stdout may name the file standard output was sent to, which must not
// be replaced under the shell's feet.
bool isSystemFileName(const std::string& path) {
  const bool devices = path.rfind("/dev/", 0) == 0 && path.rfind("/dev/shm/", 0) != 0;
  return devices || path.rfind("/proc/", 0) == 0;
}

OutputFile::OutputFile() = default;

OutputFile::OutputFile(const std::string& path) { open(path); }

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() {
  if (fd < 0) return;
  ::close(fd);
  fd = -1;
  outputs::abandonSlot(outputs::Claim{slot, serial});
}

void OutputFile::open(const std::string& path, const std::string& createFailure) {
  abandon();
  finalName = path;
  slot = -1;
  const std::string refusal = createFailure.empty() ? "Create File " + path + " failed!\n" : createFailure;
  // The message of old, then the system's reason on a line of its own.
  const auto refuse = [&refusal](int error) { stopRun(refusal + "Reason: " + std::strerror(error) + "\n"); };
  const Destination where = destinationOf(path);
  if (where.refusal != 0) refuse(where.refusal);
  if (where.inPlace) {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) refuse(errno);
  } else {
    const outputs::InterruptsHeld held;
    std::string temporary = temporaryPattern(where.target);
    fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) refuse(errno);
    const outputs::Claim claim = outputs::claimSlot(temporary, where.target);
    slot = claim.slot;
    serial = claim.serial;
    if (slot < 0) {
      ::close(fd);
      fd = -1;
      unlink(temporary.c_str());
      refuse(ENAMETOOLONG);
    }
    fchmod(fd, where.mode);
  }
  sink = std::make_unique<detail::OutputSink>(fd);
  formatted = std::make_unique<std::ostream>(sink.get());
}

void OutputFile::close() {
  if (fd < 0) return;
  formatted->flush();
  if (!sink->drain()) failWrite();
  const int descriptor = fd;
  fd = -1;
  if (::close(descriptor) != 0) {
    const int error = errno;
    stopRun("Write File " + finalName + " failed! " + std::strerror(error) + "\n");
  }
  outputs::markClosed(outputs::Claim{slot, serial});
}

void OutputFile::failWrite() {
  const int error = sink->error() != 0 ? sink->error() : EIO;
  stopRun("Write File " + finalName + " failed! " + std::strerror(error) + "\n");
}

}  // namespace ombra
