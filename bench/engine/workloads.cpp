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

// Any start of the recording icacls stand-in: none, the actions run no tool.
std::string toolStarts() {
  std::string text;
  for (const std::string& call : icacls::calls()) text += "tool started: " + call + "\n";
  return text;
}

// How many folders (the top one included) and files the tree at `top` holds.
void countTree(const std::string& top, size_t* folders, size_t* files) {
  ++*folders;
  WIN32_FIND_DATAA entry{};
  const HANDLE find = FindFirstFileA((top + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      countTree(top + "\\" + name, folders, files);
    } else {
      ++*files;
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

std::string treeState(const std::string& top) {
  if (!machine::exists(top)) return "tree absent\n";
  size_t folders = 0;
  size_t files = 0;
  countTree(top, &folders, &files);
  return "tree of " + std::to_string(folders) + " folders and " + std::to_string(files) + " files\n";
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
  return {"EditEstimatedSize", "EditEstimatedSize", code.substr(1, code.size() - 2),
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
  return {"RemoveFolder", "RemoveFolder", layout.sdkFolder + "|" + authoring::kProductName,
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
  return {"RemoveRegistries", "RemoveRegistries", layout.sdkFolder + "\\",
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
  return {"ChangeQuorvelFolderPermission", "ChangeQuorvelFolderPermission", layout.dataFolder + "\\",
          [layout] {
            icacls::reset();
            return machine::createFolders(layout.dataFolder + "\\Settings") &&
                   writeFiles({layout.dataFolder + "\\Settings\\user.config", layout.dataFolder + "\\license.dat"});
          },
          [layout] { return presence("data folder", layout.dataFolder) + toolStarts(); }};
}

Workload removeManufacturerFolder(const authoring::ProductLayout& layout) {
  return {"RemoveManufacturerFolder", "RemoveManufacturerFolder", layout.manufacturerFolder + "\\",
          [layout] {
            icacls::reset();
            machine::removeTree(layout.manufacturerFolder);
            return machine::createFolders(layout.manufacturerFolder);
          },
          [layout] { return presence("manufacturer folder", layout.manufacturerFolder) + toolStarts(); }};
}

// A tree of `folders` folders, the top one included, each holding ten files:
// the top holds nine folders, and those share the rest.
struct Tree {
  std::vector<std::string> folders;  // parents first
  std::vector<std::string> files;
};

constexpr size_t kBranches = 9;
constexpr size_t kFilesPerFolder = 10;

Tree treeAt(const std::string& top, size_t folders) {
  Tree tree;
  tree.folders.push_back(top);
  const size_t leavesPerBranch = (folders - 1 - kBranches) / kBranches;
  for (size_t branch = 0; branch < kBranches; ++branch) {
    const std::string branchFolder = top + "\\branch " + std::to_string(branch);
    tree.folders.push_back(branchFolder);
    for (size_t leaf = 0; leaf < leavesPerBranch; ++leaf) {
      tree.folders.push_back(branchFolder + "\\leaf " + std::to_string(leaf));
    }
  }
  for (const std::string& folder : tree.folders) {
    for (size_t file = 0; file < kFilesPerFolder; ++file) {
      tree.files.push_back(folder + "\\file " + std::to_string(file) + ".dat");
    }
  }
  return tree;
}

bool layOut(const Tree& tree) {
  for (const std::string& folder : tree.folders) {
    if (!machine::createFolders(folder)) return false;
  }
  return writeFiles(tree.files);
}

std::string treeName(const std::string& action, size_t folders) {
  return action + "-tree-" + std::to_string(folders) + "-" + std::to_string(folders * kFilesPerFolder);
}

// The grant on a tree laid out once: it leaves the tree as it is.
Workload grantOnTree(const authoring::ProductLayout& layout, size_t folders) {
  const std::string top = layout.dataManufacturerFolder + "\\Tree of " + std::to_string(folders);
  auto laidOut = std::make_shared<bool>(false);
  return {treeName("ChangeQuorvelFolderPermission", folders), "ChangeQuorvelFolderPermission", top,
          [top, folders, laidOut] {
            icacls::reset();
            if (!*laidOut) {
              machine::removeTree(top);
              *laidOut = layOut(treeAt(top, folders));
            }
            return *laidOut;
          },
          [top] { return treeState(top) + toolStarts(); }};
}

// RemoveFolder on a tree laid out anew before every call.
Workload deletionOfTree(const authoring::ProductLayout& layout, size_t folders, const std::string& trashFolder) {
  const std::string top = layout.manufacturerFolder + "\\Tree of " + std::to_string(folders);
  return {treeName("RemoveFolder", folders), "RemoveFolder", top + "|" + authoring::kProductName,
          [top, folders, trashFolder] {
            machine::removeTree(trashFolder);
            machine::removeTree(top);
            return layOut(treeAt(top, folders));
          },
          [top, trashFolder] { return treeState(top) + "in the trash:\n" + folderNames(trashFolder + "\\files"); }};
}

}  // namespace

std::vector<Workload> workloads(const std::string& trashFolder) {
  const authoring::ProductLayout layout = authoring::productLayout();
  const authoring::ProductTraces traces = authoring::productTraces(layout);
  return {editEstimatedSize(),
          removeFolder(layout, {traces.cacheFolder}, traces.cacheFiles, trashFolder),
          removeRegistries(layout, traces),
          changeQuorvelFolderPermission(layout),
          removeManufacturerFolder(layout),
          grantOnTree(layout, 100),
          deletionOfTree(layout, 100, trashFolder),
          grantOnTree(layout, 1000),
          deletionOfTree(layout, 1000, trashFolder)};
}

Workload oneFileFolderRemoval(const std::string& trashFolder) {
  const authoring::ProductLayout layout = authoring::productLayout();
  return removeFolder(layout, {layout.sdkFolder}, {layout.sdkFolder + "\\readme.txt"}, trashFolder);
}

}  // namespace quorvel::bench
