#include "workloads.hpp"

#include "demonstration_product.hpp"
#include "icacls_record.hpp"
#include "machine.hpp"

#include <windows.h>

#include <memory>

namespace quorvel::bench {

namespace {

namespace authoring = quorvel::authoring;
namespace machine = quorvel::authoring::machine;
namespace icacls = quorvel::authoring::icacls;

// Registrations of other products beside the SDK's: a machine with a few
// dozen products installed holds about this many.
constexpr size_t kOtherRegistrations = 1000;

std::string presence(const std::string& name, const std::string& path) {
  return name + (machine::exists(path) ? " present\n" : " absent\n");
}

std::string folderNames(const std::string& folder) {
  std::string names;
  WIN32_FIND_DATAA entry{};
  const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names += name + "\n";
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

std::string icaclsCalls() {
  std::string text;
  for (const icacls::Call& call : icacls::calls()) {
    text += "icacls started: " + call.commandLine + " -> exit " +
            (call.exitCode ? std::to_string(*call.exitCode) : std::string("none")) + "\n";
  }
  return text;
}

bool writeFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (!machine::writeFile(path, "left by the running product\n")) return false;
  }
  return true;
}

Workload editEstimatedSize() {
  const std::string code = authoring::kDemonstrationProductCode;
  const std::string entry = std::string(authoring::kUninstallKey) + code;
  return {"EditEstimatedSize", code.substr(1, code.size() - 2),
          [entry] {
            return machine::createKey(entry) &&
                   machine::setDword(entry, "EstimatedSize", authoring::kCostedEstimatedSize);
          },
          [entry] {
            const auto type = machine::valueType(entry, "EstimatedSize");
            const auto size = machine::readDword(entry, "EstimatedSize");
            return "EstimatedSize type " + (type ? std::to_string(*type) : std::string("none")) + ", value " +
                   (size ? std::to_string(*size) : std::string("none"));
          }};
}

// RemoveFolder on the SDK folder once `folders` and `files` are in it.
Workload removeFolder(const authoring::ProductLayout& layout, const std::vector<std::string>& folders,
                      const std::vector<std::string>& files, const std::string& trashFolder) {
  return {"RemoveFolder", layout.sdkFolder + "|" + authoring::kProductName,
          [layout, folders, files, trashFolder] {
            machine::removeTree(trashFolder);
            machine::removeTree(layout.sdkFolder);
            for (const std::string& folder : folders) {
              if (!machine::createFolders(folder)) return false;
            }
            return writeFiles(files);
          },
          [layout, trashFolder] {
            return presence("SDK folder", layout.sdkFolder) +
                   presence("manufacturer folder", layout.manufacturerFolder) + "in the trash:\n" +
                   folderNames(trashFolder + "\\files");
          }};
}

Workload removeRegistries(const authoring::ProductLayout& layout, const authoring::ProductTraces& traces) {
  std::vector<std::string> others = {traces.keptRegistration, layout.sdkFolder + " Tools\\"};
  const std::string programFiles = layout.manufacturerFolder.substr(0, layout.manufacturerFolder.rfind('\\'));
  for (int i = 0; others.size() < kOtherRegistrations; ++i) {
    const std::string vendor = programFiles + "\\Vendor " + std::to_string(i) + "\\Product\\";
    others.push_back(vendor);
    others.push_back(vendor + "bin\\");
  }
  auto othersWritten = std::make_shared<bool>(false);
  return {"RemoveRegistries", layout.sdkFolder + "\\",
          [traces, others, othersWritten] {
            if (!machine::createKey(authoring::kFoldersKey)) return false;
            for (const std::string& name : traces.registrations) {
              if (!machine::setString(authoring::kFoldersKey, name, "")) return false;
            }
            // The others are never deleted: written once.
            for (size_t i = 0; !*othersWritten && i < others.size(); ++i) {
              if (!machine::setString(authoring::kFoldersKey, others[i], "")) return false;
            }
            *othersWritten = true;
            return true;
          },
          [] {
            std::string names;
            for (const std::string& name : machine::valueNames(authoring::kFoldersKey)) names += name + "\n";
            return names;
          }};
}

Workload changeQuorvelFolderPermission(const authoring::ProductLayout& layout) {
  return {"ChangeQuorvelFolderPermission", layout.dataFolder + "\\",
          [layout] {
            icacls::reset();
            return machine::createFolders(layout.dataFolder + "\\Settings") &&
                   writeFiles({layout.dataFolder + "\\Settings\\user.config", layout.dataFolder + "\\license.dat"});
          },
          [layout] { return presence("data folder", layout.dataFolder) + icaclsCalls(); }};
}

Workload removeManufacturerFolder(const authoring::ProductLayout& layout) {
  return {"RemoveManufacturerFolder", layout.manufacturerFolder + "\\",
          [layout] {
            icacls::reset();
            machine::removeTree(layout.manufacturerFolder);
            return machine::createFolders(layout.manufacturerFolder);
          },
          [layout] { return presence("manufacturer folder", layout.manufacturerFolder) + icaclsCalls(); }};
}

}  // namespace

std::vector<Workload> workloads(const std::string& trashFolder) {
  const authoring::ProductLayout layout = authoring::productLayout();
  const authoring::ProductTraces traces = authoring::productTraces(layout);
  return {editEstimatedSize(), removeFolder(layout, {traces.cacheFolder}, traces.cacheFiles, trashFolder),
          removeRegistries(layout, traces), changeQuorvelFolderPermission(layout), removeManufacturerFolder(layout)};
}

Workload oneFileFolderRemoval(const std::string& trashFolder) {
  const authoring::ProductLayout layout = authoring::productLayout();
  return removeFolder(layout, {layout.sdkFolder}, {layout.sdkFolder + "\\readme.txt"}, trashFolder);
}

}  // namespace quorvel::bench
