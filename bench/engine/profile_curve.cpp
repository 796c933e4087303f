#include "profile_curve.hpp"

#include <cstdio>
#include <memory>

namespace quorvel::bench {

namespace {

// What the guard may cost: with the most profiles against none, and with none
// against the bare calls.
constexpr double kGrowthTarget = 1.5;
constexpr double kGuardTarget = 1.10;
// What a hostile hive may cost: 400 values each naming a 60-deep folder of
// the user's own, against a call without them.
constexpr double kHostileTarget = 1.2;
constexpr int kHostileValues = 400;
constexpr int kHostileDepth = 60;

struct Point {
  int profiles;
  bool listed;   // each profile a ProfileList entry too, not only a folder
  bool hostile;  // a hostile hive beside no extra profiles
  Timing timing;
  std::vector<double> floor;  // milliseconds per pass of the lists' reads
};

std::string nameOf(const Point& point) {
  if (point.hostile) return "RemoveFolder@hostile-hive";
  if (point.profiles == 0) return "RemoveFolder@0";
  return "RemoveFolder@" + std::to_string(point.profiles) + (point.listed ? "-listed" : "-folders");
}

std::string describe(const Point& point) {
  if (point.hostile) return "none, a hostile hive";
  if (point.profiles == 0) return "none";
  return std::to_string(point.profiles) + (point.listed ? " listed" : " folders");
}

double readListsTimed(const std::string& profilesFolder, ProfileLists* lists) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER started;
  LARGE_INTEGER ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  *lists = readProfileLists(profilesFolder);
  QueryPerformanceCounter(&ended);
  return 1000.0 * static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The lists must have grown by the profiles laid out, or the point measures
// another machine than it says.
bool listsAsLaidOut(const Point& point, const ProfileLists& none, const ProfileLists& lists) {
  const size_t listed = point.listed ? static_cast<size_t>(point.profiles) : 0;
  std::printf("      %s: the profiles folder holds %zu entries, ProfileList %zu profiles\n", nameOf(point).c_str(),
              lists.folderEntries, lists.listedProfiles);
  if (lists.folderEntries == none.folderEntries + static_cast<size_t>(point.profiles) &&
      lists.listedProfiles == none.listedProfiles + listed) {
    return true;
  }
  std::printf("FAIL  %s: the machine does not hold the profiles laid out\n", nameOf(point).c_str());
  return false;
}

const char* verdict(double ratio, double target) { return ratio <= target ? "met" : "not met"; }

void printCurve(const std::vector<Point>& points) {
  std::printf(
      "\n| Extra profiles | Product, ms: median (quartiles) | Bare, ms: median (quartiles) | Product / bare: "
      "medians, paired | Product / product with none | Lists' reads (floor), ms: median (quartiles) |\n"
      "|---|---|---|---|---|---|\n");
  const Point& none = points.front();
  const double productWithNone = spreadOf(none.timing.product).median;
  for (const Point& point : points) {
    const Spread product = spreadOf(point.timing.product);
    const Spread bare = spreadOf(point.timing.bare);
    const Spread floor = spreadOf(point.floor);
    std::printf("| %s | %.1f (%.1f-%.1f) | %.1f (%.1f-%.1f) | %.3f, %.3f | %.3f | %.2f (%.2f-%.2f) |\n",
                describe(point).c_str(), product.median, product.lowerQuartile, product.upperQuartile, bare.median,
                bare.lowerQuartile, bare.upperQuartile, product.median / bare.median,
                medianOfPairedRatios(point.timing), product.median / productWithNone, floor.median, floor.lowerQuartile,
                floor.upperQuartile);
  }

  const double bareWithNone = spreadOf(none.timing.bare).median;
  const double guardRatio = productWithNone / bareWithNone;
  std::printf("\nWith no extra profiles the product takes %.3f times the bare calls (paired %.3f; target %.2f: %s).\n",
              guardRatio, medianOfPairedRatios(none.timing), kGuardTarget, verdict(guardRatio, kGuardTarget));
  const double floorWithNone = spreadOf(none.floor).median;
  for (const Point& point : points) {
    if (!point.hostile) continue;
    const double hostile = spreadOf(point.timing.product).median / productWithNone;
    std::printf(
        "With a hostile hive (%d values, each a %d-deep folder of the user's own): %.3f times the call "
        "without it (against the bare calls of the same rounds %.3f; target %.1f: %s).\n",
        kHostileValues, kHostileDepth, hostile, medianOfPairedRatios(point.timing) / medianOfPairedRatios(none.timing),
        kHostileTarget, verdict(hostile, kHostileTarget));
  }
  for (const Point& point : points) {
    if (point.profiles != kMostExtraProfiles) continue;
    const double product = spreadOf(point.timing.product).median;
    const double growth = product / productWithNone;
    // Set against the bare calls of the same rounds, the growth is free of
    // the load's drift between the points.
    const double pairedGrowth = medianOfPairedRatios(point.timing) / medianOfPairedRatios(none.timing);
    std::printf(
        "With %s: %.3f times the call with none (against the bare calls of the same rounds %.3f; target %.1f: %s), "
        "%.3f times the bare calls with none (target %.2f: %s); %+.1f ms over none, of which the lists' reads "
        "%+.1f ms.\n",
        describe(point).c_str(), growth, pairedGrowth, kGrowthTarget, verdict(growth, kGrowthTarget),
        product / bareWithNone, kGuardTarget, verdict(product / bareWithNone, kGuardTarget), product - productWithNone,
        spreadOf(point.floor).median - floorWithNone);
  }
}

}  // namespace

bool runProfileCurve(const Dll& product, const Dll& bare, const Workload& oneFileRemoval, int calls, bool checkOnly,
                     ExtraProfiles& extra) {
  std::vector<Point> points = {
      {0, false, false, {}, {}},
      {0, false, true, {}, {}},
      {500, false, false, {}, {}},
      {500, true, false, {}, {}},
      {kMostExtraProfiles, false, false, {}, {}},
      {kMostExtraProfiles, true, false, {}, {}},
  };
  ProfileLists none = {};
  for (Point& point : points) {
    std::unique_ptr<HostileHive> hive;
    if (point.hostile) hive = std::make_unique<HostileHive>(kHostileValues, kHostileDepth);
    if (hive && !hive->laidOut()) {
      std::printf("FAIL  %s: the hive could not be laid out\n", nameOf(point).c_str());
      return false;
    }
    if (!extra.layOut(point.profiles, point.listed)) {
      std::printf("FAIL  %s: the profiles could not be laid out\n", nameOf(point).c_str());
      return false;
    }
    ProfileLists lists = {};
    readListsTimed(extra.folder(), &lists);
    if (point.profiles == 0 && !point.hostile) none = lists;
    if (!listsAsLaidOut(point, none, lists) || !sameBehaviour(product, bare, oneFileRemoval, false, nameOf(point))) {
      return false;
    }
    if (checkOnly) continue;
    if (!timeCalls(product, bare, oneFileRemoval, calls, &point.timing)) return false;
    for (int i = 0; i < calls; ++i) point.floor.push_back(readListsTimed(extra.folder(), &lists));
    std::printf("timed %s\n", nameOf(point).c_str());
    std::fflush(stdout);
  }
  if (!checkOnly) printCurve(points);
  return true;
}

}  // namespace quorvel::bench
