#include "settings/dir_form.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace qova {

namespace fs = std::filesystem;

namespace {

// Kernel interfaces and virtual file systems hold no user folders.
bool IsVirtualFs(const std::string& type, const std::string& point) {
  static const std::set<std::string> kVirtual = {
      "proc",     "sysfs",      "devpts",    "devtmpfs",        "cgroup",      "cgroup2",
      "mqueue",   "debugfs",    "tracefs",   "securityfs",      "pstore",      "bpf",
      "configfs", "fusectl",    "hugetlbfs", "autofs",          "binfmt_misc", "efivarfs",
      "nsfs",     "rpc_pipefs", "ramfs",     "fuse.gvfsd-fuse", "fuse.portal", "selinuxfs",
      "squashfs"};
  if (kVirtual.count(type) != 0) return true;
  for (const char* system : {"/proc", "/sys", "/dev", "/run"}) {
    const std::string prefix(system);
    if (point == prefix || point.rfind(prefix + "/", 0) == 0) {
      // Removable media are mounted below /run/media.
      return point.rfind("/run/media/", 0) != 0;
    }
  }
  return false;
}

// Mount points write a blank, tab, newline and backslash as octal escapes.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string ReadMounts() {
  std::ifstream in("/proc/self/mounts");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

}  // namespace

std::vector<std::string> MountPointsFromText(const std::string& mounts) {
  std::set<std::string> points;
  std::istringstream lines(mounts);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, point, type;
    if (!(fields >> device >> point >> type)) continue;
    point = Unescape(point);
    if (point.empty() || point[0] != '/' || point == "/") continue;
    if (!IsVirtualFs(type, point)) points.insert(point);
  }
  std::vector<std::string> out{"/"};
  out.insert(out.end(), points.begin(), points.end());
  return out;
}

TDirForm::TDirForm() : TDirForm(MountPointsFromText(ReadMounts())) { systemDrives_ = true; }

TDirForm::TDirForm(std::vector<std::string> drives) : DriveComboBox1(std::move(drives)) {
  if (DriveComboBox1.empty()) DriveComboBox1.push_back("/");
  SetDirectory(DriveComboBox1[0]);
}

std::string TDirForm::ItemLabel(const std::string& path) {
  const fs::path p(path);
  const std::string name = p.filename().string();
  return name.empty() ? path : name;
}

void TDirForm::SetDirectory(const std::string& path) {
  // Where the text names no folder, the chooser starts at the nearest folder
  // above it that exists: usually what the user meant to pick near.
  std::error_code ec;
  fs::path dir = path.empty() ? fs::path("/") : fs::absolute(fs::path(path), ec).lexically_normal();
  if (ec) dir = "/";
  while (!IsFolder(dir) && dir.has_relative_path()) dir = dir.parent_path();
  if (!IsFolder(dir)) dir = "/";
  std::string text = dir.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();

  Directory = text;
  DirectoryListBox1.clear();
  // The way down from the root, then the subfolders.
  fs::path walk("/");
  DirectoryListBox1.push_back("/");
  for (const fs::path& part : fs::path(text).relative_path()) {
    walk /= part;
    DirectoryListBox1.push_back(walk.string());
  }
  ItemIndex = static_cast<int>(DirectoryListBox1.size()) - 1;
  std::vector<std::string> subfolders;
  for (fs::directory_iterator it(text, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (IsFolder(it->path())) subfolders.push_back(it->path().string());
  }
  std::sort(subfolders.begin(), subfolders.end());
  DirectoryListBox1.insert(DirectoryListBox1.end(), subfolders.begin(), subfolders.end());
  SelectDriveOf(text);
}

void TDirForm::SelectDriveOf(const std::string& folder) {
  // The drive is the longest mount point the folder lies on.
  int best = 0;
  size_t bestLength = 0;
  for (size_t i = 0; i < DriveComboBox1.size(); ++i) {
    const std::string& d = DriveComboBox1[i];
    const bool on = d == "/" || folder == d || folder.rfind(d + "/", 0) == 0;
    if (on && d.size() >= bestLength) {
      best = static_cast<int>(i);
      bestLength = d.size();
    }
  }
  DriveIndex = best;
}

void TDirForm::FormShow() {
  ChosenFolder.clear();
  if (systemDrives_) {
    DriveComboBox1 = MountPointsFromText(ReadMounts());
    SelectDriveOf(Directory);
  }
}

void TDirForm::DriveComboBox1Change(int index) {
  if (index < 0 || index >= static_cast<int>(DriveComboBox1.size())) return;
  SetDirectory(DriveComboBox1[static_cast<size_t>(index)]);
  DriveIndex = index;
}

void TDirForm::DirectoryListBox1Click(int index) {
  if (index >= 0 && index < static_cast<int>(DirectoryListBox1.size())) ItemIndex = index;
}

void TDirForm::DirectoryListBox1DblClick(int index) {
  if (index < 0 || index >= static_cast<int>(DirectoryListBox1.size())) return;
  SetDirectory(DirectoryListBox1[static_cast<size_t>(index)]);
}

void TDirForm::OKClick() {
  ChosenFolder = ItemIndex >= 0 && ItemIndex < static_cast<int>(DirectoryListBox1.size())
                     ? DirectoryListBox1[static_cast<size_t>(ItemIndex)]
                     : Directory;
  Close();
}

void TDirForm::CancelClick() { Close(); }

}  // namespace qova
