// What the process may use on a shared machine: memory (the system's available
// memory, the memory cgroup, the address-space limit and --memory) and CPUs
// (the affinity mask and the cgroup's CPU quota). On a cluster node the
// machine's own totals say nothing about a job's share, and a run that plans
// for the whole node is killed or starved; every memory guard and `auto`
// choice asks here instead. Depends on nothing else in Ombra.
#ifndef OMBRA_CORE_RESOURCELIMITS_H
#define OMBRA_CORE_RESOURCELIMITS_H

#include <string>
#include <string_view>

namespace ombra {

// Which bound set the memory a run may use.
enum class MemoryBound { kUnknown, kAvailable, kCgroup, kAddressSpace, kOption };

struct MemoryBudget {
  double bytes = 1e300;  // what is left now; never negative
  MemoryBound bound = MemoryBound::kUnknown;
};

// The readings a budget is made of, in bytes; a negative value is a bound
// that does not apply (no limit, or nothing could be read).
struct MemoryReadings {
  double available = -1;         // MemAvailable
  double cgroupRoom = -1;        // least over the cgroup and its parents of limit - usage
  double addressLimit = -1;      // RLIMIT_AS
  double addressMapped = 0;      // the address space the process has mapped
  double option = -1;            // --memory
  double resident = 0;           // the process's resident memory, which --memory includes
};

// The least of the bounds that apply (0 when one is exhausted); kUnknown and
// a very large number when none does. Ties go to the first in the order of
// MemoryBound.
MemoryBudget budgetOf(const MemoryReadings& readings);

// The readings of this process now, and the budget made of them.
MemoryReadings readMemory();
MemoryBudget memoryBudget();

// --memory MB: a budget for the whole run, resident memory included.
// 0 (the default) removes it.
void setMemoryOption(double megabytes);

// "7.6 GB (the cgroup's limit)", "150 MB (the address-space limit)".
std::string describeBudget(const MemoryBudget& budget);
// The budget measured by the first call (when the run starts), kept for the
// run's messages; the log's line "Memory for this run: ..." describes it.
const MemoryBudget& startBudget();
std::string memoryLine();
// "memory for this run: 150 MB, set by the address-space limit (ulimit -v)",
// for messages: the bound named by its source (--memory, the memory cgroup,
// ulimit -v, the machine).
std::string budgetClause();
// "150 MB", or with one decimal below 10 MB ("0.4 MB"), two below 0.1 MB.
std::string megabytesText(double bytes);
// "Please give the run more memory (--memory)", or as fits the bound of
// the run's budget: the job's cgroup, ulimit -v, the machine.
std::string moreMemoryAdvice();

// The CPUs the process may run on: those of its affinity mask, fewer when the
// CPU cgroup's quota (cpu.max, or cpu.cfs_quota_us) allows fewer; at least 1.
int usableCpus();

// The folder of this process's cgroup for `controller` ("memory", "cpu"),
// empty when there is none; `v2` tells whether it is of the unified
// hierarchy.
std::string cgroupFolderOf(std::string_view controller, bool& v2);

// The room left under the address-space limit (RLIMIT_AS) now, in bytes, or
// a negative number when there is no such limit.
double addressSpaceRoom();
// Bytes of address space a new thread's stack takes by default.
double threadStackBytes();

// The step the run is in, for a stop for memory: "reading the data sets".
void setRunStep(const char* step);
// "\nThe program ran out of memory while STEP (memory for this run: ...). ..."
std::string outOfMemoryMessage();

// Readers of the system files, apart so that they can be tested on text.
namespace limits {
// MemAvailable of /proc/meminfo in bytes, or -1.
double memAvailable(std::string_view meminfo);
// The cgroup path of /proc/self/cgroup for `controller` ("memory", "cpu"):
// the v1 line naming it, else the v2 line ("0::/path"); empty when neither.
// `v2` tells which of them it was.
std::string cgroupPath(std::string_view procSelfCgroup, std::string_view controller, bool& v2);
// A limit file's value in bytes: "max" and v1's "no limit" (>= 2^62) give -1.
double limitValue(std::string_view text);
// The value of `key` in a memory.stat text, or 0.
double statValue(std::string_view stat, std::string_view key);
// CPUs a quota allows, rounded up: cpu.max ("150000 100000" -> 2, "max
// 100000" -> 0 for none).
int quotaCpus(std::string_view cpuMax);
}  // namespace limits

}  // namespace ombra

#endif  // OMBRA_CORE_RESOURCELIMITS_H
