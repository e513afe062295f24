// Every file a run writes goes through OutputFile, so that no output can
// report success after a failed write and none is ever seen half written:
// - the bytes go to a temporary file beside the final name (".NAME.XXXXXX"),
//   in large checked writes; a write, flush or close the system refuses
//   stops the run with "Write File NAME failed! <the system's reason>";
// - a closed file takes its final name when the run commits its outputs
//   (endRun(0) and the normal end of a run), all of them together;
// - an error stop (a run ending with a non-zero status) or SIGINT, SIGTERM,
//   SIGHUP or SIGPIPE removes the temporary files, so an earlier file of the same name
//   stays as it was.
// A device or FIFO (for example /dev/full or /dev/stdout) is written in
// place: it cannot be replaced by a rename, and its writes are checked alike.
#ifndef OMBRA_OUTPUTS_OUTPUTFILE_H
#define OMBRA_OUTPUTS_OUTPUTFILE_H

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace ombra {

namespace detail {
// The file's buffer: drains into the descriptor in checked write(2) loops
// and remembers the first error, after which nothing more is written.
class OutputSink : public std::streambuf {
 public:
  explicit OutputSink(int descriptor);
  // Writes out what the buffer holds; false once any write has failed.
  bool drain();
  int error() const { return firstError; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool writeAll(const char* data, size_t size);

  int fd;
  std::unique_ptr<char[]> buffer;
  int firstError = 0;
};
}  // namespace detail

class OutputFile {
 public:
  OutputFile();
  // Same as open(path).
  explicit OutputFile(const std::string& path);
  // A file still open is abandoned: its temporary file is removed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts the output that will be named `path`. When it cannot be created
  // (a missing or read-only folder, a directory or a read-only file of that
  // name) prints `createFailure`, by default "Create File PATH failed!\n",
  // and stops the run. Only one file at a time: the last one must be closed.
  void open(const std::string& path, const std::string& createFailure = std::string());
  // Formatted output. A failure of its writes stops the run at the next
  // put() or at close().
  std::ostream& stream() { return *formatted; }
  // Appends bytes to the buffer, which is written out whenever it fills;
  // a refused write stops the run.
  void put(char c) {
    if (sink->sputc(c) == std::char_traits<char>::eof()) failWrite();
  }
  void put(std::string_view bytes) {
    const auto size = static_cast<std::streamsize>(bytes.size());
    if (sink->sputn(bytes.data(), size) != size) failWrite();
  }
  void endLine() { put('\n'); }
  // Writes out the buffer and closes the file, checking both; the file takes
  // its final name when the run commits its outputs.
  void close();
  // The name the file will have.
  const std::string& name() const { return finalName; }

 private:
  [[noreturn]] void failWrite();
  void abandon();

  std::string finalName;
  int fd = -1;
  int slot = -1;       // in the run's table of temporary files; -1 when written in place
  long serial = 0;     // the claim of `slot` this file holds
  std::unique_ptr<detail::OutputSink> sink;
  std::unique_ptr<std::ostream> formatted;
};

// Renames every closed output of the run over its final name, together; the
// end of a run (its normal end, or a stop of status 0) calls it. A failed rename stops
// the run like a failed write.
void commitOutputs();
// Removes the temporary file of every output of the run; an error stop
// (a run ending with a non-zero status) calls it before the run ends.
void discardOutputs();
// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE (standard output's reader gone)
// remove the run's temporary files, print one line saying why, finish the
// log (setSignalLog) and end the process with status 128 + the signal. A
// signal the program was started with ignored (nohup) stays ignored.
// SIGXFSZ is ignored, so that a file size limit fails the write instead.
void installInterruptCleanup();
// The step that writes the log of a run ended by a signal, given the line
// printed for it and the exit status. It runs inside the signal handler, so
// it may call only async-signal-safe functions; without a step there is no
// log to write.
void setSignalLog(void (*step)(const char* line, int status));
// While it lives the run's end is settled (its log being written): a signal
// no longer ends the run, and one that is ending it already is waited for.
class RunSettling {
 public:
  RunSettling();
  ~RunSettling();
  RunSettling(const RunSettling&) = delete;
  RunSettling& operator=(const RunSettling&) = delete;
};
// Stops the run, before anything is written, when a file named in `outputs`
// is the same file (device and inode, so also through a link or another
// path) as one named in `inputs`. Names that do not exist are skipped.
void refuseOutputsThatAreInputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);

// An output of the run and the option that names it ("--out", "--plot", ...).
struct NamedOutput {
  std::string option;
  std::string path;
};
// Stops the run, before anything is read or written, naming the option and
// the folder, when the folder of an output does not exist or cannot be
// written, and naming both options when two outputs are one file (by name,
// another path or a link). Devices and FIFOs are written in place and may
// take several outputs.
void refuseUnwritableOutputs(const std::vector<NamedOutput>& outputs);
// A name under /dev or /proc: written in place, never replaced.
bool isSystemFileName(const std::string& path);

}  // namespace ombra

#endif  // OMBRA_OUTPUTS_OUTPUTFILE_H
