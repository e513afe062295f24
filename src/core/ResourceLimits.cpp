#include "core/ResourceLimits.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace ombra {

namespace limits {

namespace {

// The whitespace-separated word after `key` at the start of a line.
bool valueAfterKey(std::string_view text, std::string_view key, std::string_view& value) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
        (line[key.size()] == ' ' || line[key.size()] == '\t')) {
      size_t start = key.size();
      while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
      size_t stop = start;
      while (stop < line.size() && line[stop] != ' ' && line[stop] != '\t') ++stop;
      value = line.substr(start, stop - start);
      return true;
    }
    at = end + 1;
  }
  return false;
}

// A whole decimal number, or -1.
double wholeNumber(std::string_view word) {
  if (word.empty() || word.size() > 20) return -1;
  double value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

}  // namespace

double memAvailable(std::string_view meminfo) {
  std::string_view value;
  if (!valueAfterKey(meminfo, "MemAvailable:", value)) return -1;
  const double kilobytes = wholeNumber(value);
  return kilobytes < 0 ? -1 : kilobytes * 1024.0;
}

std::string cgroupPath(std::string_view procSelfCgroup, std::string_view controller, bool& v2) {
  std::string unified;
  bool unifiedFound = false;
  size_t at = 0;
  while (at < procSelfCgroup.size()) {
    const size_t end = std::min(procSelfCgroup.find('\n', at), procSelfCgroup.size());
    const std::string_view line = procSelfCgroup.substr(at, end - at);
    at = end + 1;
    const size_t first = line.find(':');
    const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    if (controllers.empty()) {
      unified = std::string(path);
      unifiedFound = true;
      continue;
    }
    size_t from = 0;
    while (from <= controllers.size()) {
      const size_t comma = std::min(controllers.find(',', from), controllers.size());
      if (controllers.substr(from, comma - from) == controller) {
        v2 = false;
        return std::string(path);
      }
      from = comma + 1;
    }
  }
  v2 = unifiedFound;
  return unified;
}

double limitValue(std::string_view text) {
  text = trimmed(text);
  if (text == "max") return -1;
  const double value = wholeNumber(text);
  // cgroup v1 writes "no limit" as the largest page-aligned 63-bit number.
  return value >= 4.6e18 ? -1 : value;
}

double statValue(std::string_view stat, std::string_view key) {
  std::string_view value;
  if (!valueAfterKey(stat, key, value)) return 0;
  return std::max(0.0, wholeNumber(value));
}

int quotaCpus(std::string_view cpuMax) {
  cpuMax = trimmed(cpuMax);
  const size_t space = cpuMax.find(' ');
  if (space == std::string_view::npos) return 0;
  const double quota = wholeNumber(cpuMax.substr(0, space));
  const double period = wholeNumber(trimmed(cpuMax.substr(space + 1)));
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<int>(std::min(1e6, std::ceil(quota / period)));
}

}  // namespace limits

namespace {

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::string();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The folder of this process's cgroup for `controller`, found through the
// mount table (a v1 hierarchy mounting the controller, else the v2 one), and
// the folder where that hierarchy is mounted; empty when there is none.
struct CgroupFolder {
  std::string own;
  std::string top;
  bool v2 = false;
};

CgroupFolder cgroupFolder(std::string_view controller) {
  CgroupFolder folder;
  const std::string path = limits::cgroupPath(fileText("/proc/self/cgroup"), controller, folder.v2);
  if (path.empty()) return folder;
  std::istringstream mounts(fileText("/proc/self/mountinfo"));
  std::string line;
  while (std::getline(mounts, line)) {
    // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
    std::istringstream words(line);
    std::string id, parent, device, root, point, word;
    words >> id >> parent >> device >> root >> point;
    while (words >> word && word != "-") {
    }
    std::string type, source, superOptions;
    words >> type >> source >> superOptions;
    bool matches = false;
    if (folder.v2) {
      matches = type == "cgroup2";
    } else if (type == "cgroup") {
      std::istringstream options(superOptions);
      std::string option;
      while (std::getline(options, option, ',')) matches = matches || option == controller;
    }
    if (!matches) continue;
    // Inside a cgroup namespace or a container the mount's root may be the
    // process's own cgroup, which then is the mount point itself.
    std::string inside = path;
    if (root != "/") inside = path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : std::string();
    folder.top = point;
    folder.own = point + (inside == "/" ? std::string() : inside);
    return folder;
  }
  return CgroupFolder{};
}

// The folders from the process's cgroup up to the top of its hierarchy: a
// parent's limit binds its children too.
std::vector<std::string> cgroupChain(const CgroupFolder& folder) {
  std::vector<std::string> chain;
  std::string current = folder.own;
  while (!current.empty()) {
    chain.push_back(current);
    if (current.size() <= folder.top.size()) break;
    const size_t slash = current.rfind('/');
    if (slash == std::string::npos || slash < folder.top.size()) break;
    current = current.substr(0, slash);
  }
  return chain;
}

// The least over the chain of limit - usage, where usage leaves out the
// inactive file cache (the kernel reclaims it before it fails a charge; a run
// that has just read its inputs would otherwise see its own cache as spent).
double cgroupRoom() {
  const CgroupFolder folder = cgroupFolder("memory");
  if (folder.own.empty()) return -1;
  double room = -1;
  for (const std::string& dir : cgroupChain(folder)) {
    const double limit =
        limits::limitValue(fileText(dir + (folder.v2 ? "/memory.max" : "/memory.limit_in_bytes")));
    if (limit < 0) continue;
    const double usage =
        limits::limitValue(fileText(dir + (folder.v2 ? "/memory.current" : "/memory.usage_in_bytes")));
    const double cache =
        limits::statValue(fileText(dir + "/memory.stat"), folder.v2 ? "inactive_file" : "total_inactive_file");
    const double left = std::max(0.0, limit - std::max(0.0, usage - cache));
    if (room < 0 || left < room) room = left;
  }
  return room;
}

std::atomic<double> optionBytes{-1};
std::atomic<const char*> runStep{nullptr};

}  // namespace

MemoryBudget budgetOf(const MemoryReadings& r) {
  MemoryBudget budget;
  // `limit` < 0: the bound does not apply; what is left is limit - spent.
  const auto consider = [&budget](double limit, double spent, MemoryBound bound) {
    if (limit < 0) return;
    const double left = std::max(0.0, limit - spent);
    if (budget.bound == MemoryBound::kUnknown || left < budget.bytes) budget = MemoryBudget{left, bound};
  };
  consider(r.available, 0, MemoryBound::kAvailable);
  consider(r.cgroupRoom, 0, MemoryBound::kCgroup);
  consider(r.addressLimit, r.addressMapped, MemoryBound::kAddressSpace);
  consider(r.option, r.resident, MemoryBound::kOption);
  return budget;
}

MemoryReadings readMemory() {
  MemoryReadings r;
  r.available = limits::memAvailable(fileText("/proc/meminfo"));
  r.cgroupRoom = cgroupRoom();
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    r.addressLimit = static_cast<double>(limit.rlim_cur);
  }
  // /proc/self/statm: the mapped size and the resident size, in pages.
  std::istringstream statm(fileText("/proc/self/statm"));
  double mappedPages = 0, residentPages = 0;
  statm >> mappedPages >> residentPages;
  const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
  r.addressMapped = mappedPages * page;
  r.resident = residentPages * page;
  r.option = optionBytes.load();
  return r;
}

MemoryBudget memoryBudget() { return budgetOf(readMemory()); }

void setMemoryOption(double megabytes) { optionBytes.store(megabytes > 0 ? megabytes * 1048576.0 : -1); }

namespace {

// "7.6 GB", "150 MB" or "0.4 MB".
std::string amountOf(const MemoryBudget& budget) {
  if (budget.bytes < 1024.0 * 1048576.0) return megabytesText(budget.bytes);
  char text[64];
  std::snprintf(text, sizeof text, "%.1f GB", budget.bytes / (1024.0 * 1048576.0));
  return text;
}

const char* nameOf(MemoryBound bound) {
  static const char* const kNames[] = {"no limit found", "the available memory", "the cgroup's limit",
                                       "the address-space limit", "--memory"};
  return kNames[static_cast<int>(bound)];
}

// Where a bound comes from, for the messages of a run stopped by it.
const char* sourceOf(MemoryBound bound) {
  static const char* const kSources[] = {"no limit found", "the memory the machine has available",
                                         "the memory cgroup's limit", "the address-space limit (ulimit -v)",
                                         "--memory"};
  return kSources[static_cast<int>(bound)];
}

}  // namespace

std::string describeBudget(const MemoryBudget& budget) {
  if (budget.bound == MemoryBound::kUnknown) return std::string("unknown (") + nameOf(budget.bound) + ")";
  return amountOf(budget) + " (" + nameOf(budget.bound) + ")";
}

std::string budgetClause() {
  const MemoryBudget& budget = startBudget();
  if (budget.bound == MemoryBound::kUnknown) return "memory for this run: unknown, no limit found";
  return "memory for this run: " + amountOf(budget) + ", set by " + sourceOf(budget.bound);
}

std::string megabytesText(double bytes) {
  char text[64];
  const double megabytes = bytes / 1048576.0;
  std::snprintf(text, sizeof text, megabytes < 0.095 ? "%.2f MB" : megabytes < 9.95 ? "%.1f MB" : "%.0f MB", megabytes);
  return text;
}

std::string moreMemoryAdvice() {
  switch (startBudget().bound) {
    case MemoryBound::kOption: return "Please give the run more memory (--memory)";
    case MemoryBound::kCgroup: return "Please give the job more memory (its cgroup's limit)";
    case MemoryBound::kAddressSpace: return "Please raise the address-space limit (ulimit -v)";
    case MemoryBound::kAvailable:
    case MemoryBound::kUnknown: break;
  }
  return "Please use a machine with more memory";
}

const MemoryBudget& startBudget() {
  static const MemoryBudget budget = memoryBudget();
  return budget;
}

std::string memoryLine() { return "Memory for this run: " + describeBudget(startBudget()) + "\n"; }

std::string cgroupFolderOf(std::string_view controller, bool& v2) {
  const CgroupFolder folder = cgroupFolder(controller);
  v2 = folder.v2;
  return folder.own;
}

int usableCpus() {
  int cpus = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = CPU_COUNT(&set);
  if (cpus <= 0) cpus = static_cast<int>(std::thread::hardware_concurrency());
  const CgroupFolder folder = cgroupFolder("cpu");
  if (!folder.own.empty()) {
    for (const std::string& dir : cgroupChain(folder)) {
      int quota = 0;
      if (folder.v2) {
        quota = limits::quotaCpus(fileText(dir + "/cpu.max"));
      } else {
        const std::string q(limits::trimmed(fileText(dir + "/cpu.cfs_quota_us")));
        const std::string p(limits::trimmed(fileText(dir + "/cpu.cfs_period_us")));
        if (!q.empty() && q[0] != '-') quota = limits::quotaCpus(q + " " + p);
      }
      if (quota > 0 && (cpus <= 0 || quota < cpus)) cpus = quota;
    }
  }
  return std::max(1, cpus);
}

double addressSpaceRoom() {
  const MemoryReadings r = readMemory();
  return r.addressLimit < 0 ? -1 : std::max(0.0, r.addressLimit - r.addressMapped);
}

double threadStackBytes() {
  size_t size = 8u << 20;
  pthread_attr_t attributes;
  if (pthread_getattr_default_np(&attributes) == 0) {
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
  }
  return static_cast<double>(size);
}


void setRunStep(const char* step) { runStep.store(step); }

std::string outOfMemoryMessage() {
  const char* step = runStep.load();
  return std::string("\nThe program ran out of memory") + (step ? std::string(" while ") + step : std::string()) +
         " (" + budgetClause() + "). " + moreMemoryAdvice() + ", or fewer snps or individuals.\n";
}

}  // namespace ombra
