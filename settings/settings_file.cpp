#include "settings/settings_file.h"

#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "core/cp1251.h"
#include "core/number_text.h"
#include "core/qova_error.h"

namespace qova {

namespace {

constexpr const char* kErrorCaption = "Ошибка";
// A value is read up to this many characters, as a profile API reads it.
constexpr size_t kMaxValueLength = 2047;

enum class Loaded { Missing, Read, Failed };

// Not UTF-8: the Windows-1251 bytes pass through. Repeated keys are kept, so
// rewriting loses no line of other sections, and the first of them is read,
// as the Windows profile functions read it.
class IniFile : public CSimpleIniA {
 public:
  IniFile() : CSimpleIniA(/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false) {}
};

// Reads a whole regular file. A folder, a device or a file without read
// permission cannot be a settings file.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buf[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno != EINTR) ok = false;
    } else if (n == 0) {
      break;
    } else {
      bytes.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return ok;
}

// Loads the INI file at path; a missing file loads as empty.
Loaded LoadIni(const std::string& path, IniFile& ini, std::string& raw) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
    return Loaded::Missing;
  if (!ReadWholeFile(path, raw)) return Loaded::Failed;
  if (ini.LoadData(raw.data(), raw.size()) < 0) return Loaded::Failed;
  return Loaded::Read;
}

bool IsCommentOrBlank(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line.empty() || line.front() == ';' || line.front() == '#';
}

// The comment lines after the last section or key of the file. The INI
// library keeps a comment only with the entry that follows it, so these would
// be lost on rewriting.
std::string TrailingComments(std::string_view raw) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i <= raw.size(); ++i) {
    if (i == raw.size() || raw[i] == '\n' || raw[i] == '\r') {
      lines.push_back(raw.substr(start, i - start));
      if (i + 1 < raw.size() && raw[i] == '\r' && raw[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  size_t first = lines.size();
  while (first > 0 && IsCommentOrBlank(lines[first - 1])) --first;
  // A file of comments only keeps them as its head comment.
  if (first == 0) return {};
  std::string out;
  for (size_t i = first; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (IsCommentOrBlank(line) && line.find_first_not_of(" \t") != std::string_view::npos) {
      out.append(line);
      out += '\n';
    }
  }
  return out;
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Reads the keys of the settings section. A key that is missing or does not
// hold a value of its kind yields the default given.
class KeyReader {
 public:
  KeyReader(const CSimpleIniA& ini, char sep) : ini_(ini), sep_(sep) {}

  std::optional<std::string> Raw(const char* key) const {
    const char* value = ini_.GetValue(kSettingsSection, key, nullptr);
    if (value == nullptr) return std::nullopt;
    std::string text(value);
    if (text.size() > kMaxValueLength) text.resize(kMaxValueLength);
    return text;
  }

  std::optional<int32_t> MaybeInt(const char* key) const {
    const auto raw = Raw(key);
    return raw ? ParseInt(*raw) : std::nullopt;
  }

  bool Bool(const char* key, bool def) const {
    const auto v = MaybeInt(key);
    return v ? *v != 0 : def;
  }

  int32_t Int(const char* key, int32_t def) const { return MaybeInt(key).value_or(def); }

  double Float(const char* key, double def) const {
    const auto raw = Raw(key);
    if (!raw) return def;
    return ParseFloat(*raw, sep_).value_or(def);
  }

  // Colours and the integer window settings are stored as floats and
  // truncated toward zero. A number beyond the int range is as unusable as
  // text that is no number, so it takes the default too.
  int32_t TruncatedFloat(const char* key, int32_t def) const {
    const auto raw = Raw(key);
    if (!raw) return def;
    const auto v = ParseFloat(*raw, sep_);
    if (!v || !(*v > -2147483649.0 && *v < 2147483648.0)) return def;
    return static_cast<int32_t>(*v);
  }

  std::string Text(const char* key, const std::string& def) const {
    const auto raw = Raw(key);
    return raw ? Cp1251ToUtf8(*raw) : def;
  }

 private:
  const CSimpleIniA& ini_;
  char sep_;
};

class KeyWriter {
 public:
  KeyWriter(CSimpleIniA& ini, char sep) : ini_(ini), sep_(sep) {}

  void Bool(const char* key, bool v) { Put(key, v ? "1" : "0"); }
  void Int(const char* key, int32_t v) { Put(key, std::to_string(v)); }
  void Float(const char* key, double v) { Put(key, FormatGeneral(v, sep_)); }
  void Text(const char* key, const std::string& utf8) { Put(key, Utf8ToCp1251(utf8)); }

 private:
  void Put(const char* key, const std::string& value) {
    // Replaces every repetition of the key by the one value.
    if (ini_.SetValue(kSettingsSection, key, value.c_str(), nullptr, /*forceReplace=*/true) < 0)
      throw std::bad_alloc();
  }

  CSimpleIniA& ini_;
  char sep_;
};

// Settings files often come from Windows folders, where "*.ini" matches
// "GRID.INI" as well: the extension is compared without regard to case.
bool MatchesIni(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string ext = name.substr(name.size() - 4);
  return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'i' &&
         std::tolower(static_cast<unsigned char>(ext[2])) == 'n' &&
         std::tolower(static_cast<unsigned char>(ext[3])) == 'i';
}

// The first entry matching "*.ini" in the folder's own listing order, files
// and folders alike; empty when there is none or the folder cannot be read.
std::string FirstIniEntry(const std::string& folder) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (MatchesIni(name)) return name;
  }
  return {};
}

// The first character of a UTF-8 text that Windows-1251 lacks (or a byte
// that is not UTF-8 at all); nullopt when the whole text can be written.
std::optional<std::string> FirstCharacterOutsideCp1251(const std::string& utf8) {
  size_t i = 0;
  while (i < utf8.size()) {
    size_t end = i + 1;
    while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
    const std::string character = utf8.substr(i, end - i);
    if (Cp1251ToUtf8(Utf8ToCp1251(character)) != character) return character;
    i = end;
  }
  return std::nullopt;
}

// The text values of the settings must survive the code page of the file;
// one that would not is refused before anything is written.
void CheckTextsFitCp1251(const StateRecord& s) {
  for (const std::string* text : {&s.WorkDir, &s.IndexFont.Name, &s.Calibration.DistortionModel})
    if (const auto refusal = RefusalOfText(*text)) throw QovaError(*refusal);
}

// The keys of the detection's own settings, the defaults those of
// DetectionParams.
void ReadDetectionKeys(const KeyReader& r, DetectionParams& p) {
  p.NeedPointsControl = r.Bool("NeedPointsControl", false);
  p.NeedPointsCount = r.Int("NeedPointsCount", 0);
  p.Steps = r.Bool("Steps", false);
  p.KontrastLevel = r.Float("KontrastLevel", 0.0);
  p.FragmentationHeight = r.Int("FragmentationHeight", -1);
  p.FragmentationWidth = r.Int("FragmentationWidth", -1);
  p.CrossWindowWidth = r.Float("CrossWindowWidth", 0.8);
  p.SearchWindowWidth = r.TruncatedFloat("SearchWindowWidth", 5);
  p.SearchWindowHeight = r.TruncatedFloat("SearchWindowHeight", 3);
  p.CrossIncreasePorog = r.Float("CrossIncreasePorog", 0.8);
  p.IncreasePorog = r.TruncatedFloat("IncreasePorog", 3);
  p.MaxAngle = r.Float("Max_Angle", 3.0);
  // Beyond the keys other programs know; they ignore it, and a file
  // without it leaves the precise stage off.
  p.PreciseRefinement = r.Bool("PreciseRefinement", false);
}

// The calibration's keys, beyond those other programs know too; a file
// without them asks for no model. The model's name is kept as written (its
// user is told when it names no model), a pitch that is no number is 0.
void ReadCalibrationKeys(const KeyReader& r, CalibrationParams& c) {
  const CalibrationParams defaults;
  c.GridPitchX = r.Float("GridPitchX", defaults.GridPitchX);
  c.GridPitchY = r.Float("GridPitchY", defaults.GridPitchY);
  c.DistortionModel = r.Text("DistortionModel", defaults.DistortionModel);
}

}  // namespace

std::optional<std::string> RefusalOfText(const std::string& utf8) {
  const auto bad = FirstCharacterOutsideCp1251(utf8);
  if (!bad) return std::nullopt;
  return "Значение «" + utf8 + "» нельзя записать в файл настроек: символа «" + *bad +
         "» нет в кодировке Windows-1251. Файл настроек не записан.";
}

std::string SettingsFileForImage(const std::string& imageDir, const std::string& startDir) {
  const std::string ini = FirstIniEntry(imageDir);
  return ini.empty() ? startDir + "/" + kUserSettingsFile : imageDir + "/" + ini;
}

void ReadSettings(StateRecord& s, const std::string& path) {
  try {
    IniFile ini;
    std::string raw;
    const Loaded loaded = LoadIni(path, ini, raw);
    s.SettingsFileMissing = loaded == Loaded::Missing;
    if (loaded == Loaded::Failed) throw QovaError(kReadErrorText);

    const KeyReader r(ini, s.Desktop.DecimalSeparator());
    ReadDetectionKeys(r, s);
    ReadCalibrationKeys(r, s.Calibration);
    s.WorkDir = r.Text("WorkDir", s.StartDir);
    s.SetDialogFolder(s.WorkDir);
    s.CrossSize = r.Int("CrossSize", 12);
    s.PassiveColor = r.TruncatedFloat("Passive_color", 255);
    s.ActiveColor = r.TruncatedFloat("Active_color", 32768);

    // The font keeps what the file does not name; style flags are only added.
    FontParams& font = s.IndexFont;
    font.Name = r.Text("FontName", font.Name);
    font.Size = r.Int("FontSize", font.Size);
    font.Color = r.TruncatedFloat("FontColor", font.Color);
    if (r.Bool("FontStyleBold", false)) font.Bold = true;
    if (r.Bool("FontStyleItalic", false)) font.Italic = true;
    if (r.Bool("FontStyleUndeline", false)) font.Underline = true;
    if (r.Bool("FontStyleStrikeout", false)) font.Strikeout = true;

    // The distortion window's place, when a file keeps one: a file without
    // it leaves the place the window has now.
    const WindowPlace place{r.Int("DistortionWindowLeft", 0), r.Int("DistortionWindowTop", 0),
                            r.Int("DistortionWindowWidth", 0), r.Int("DistortionWindowHeight", 0)};
    if (place.Known()) s.DistortionWindowPlace = place;
  } catch (const std::exception&) {
    s.Desktop.MessageBox(kReadErrorText, kErrorCaption, MsgButtons::Ok);
  }
}

SettingsRead ReadDetectionSettings(const std::string& path, char decimalSeparator,
                                   DetectionParams& params, CalibrationParams* calibration) {
  try {
    IniFile ini;
    std::string raw;
    const Loaded loaded = LoadIni(path, ini, raw);
    if (loaded != Loaded::Read)
      return loaded == Loaded::Missing ? SettingsRead::Missing : SettingsRead::Failed;
    const KeyReader reader(ini, decimalSeparator);
    DetectionParams read = params;
    ReadDetectionKeys(reader, read);
    CalibrationParams readCalibration;
    if (calibration) ReadCalibrationKeys(reader, readCalibration);
    params = read;
    if (calibration) *calibration = readCalibration;
    return SettingsRead::Read;
  } catch (const std::exception&) {
    return SettingsRead::Failed;
  }
}

void WriteSettings(StateRecord& s, const std::string& path) {
  try {
    CheckTextsFitCp1251(s);
  } catch (const QovaError& e) {
    s.Desktop.MessageBox(e.what(), kErrorCaption, MsgButtons::Ok);
    return;
  }
  try {
    // Everything else in the file is kept: load it first. A file that exists
    // but cannot be read would lose its other contents, so it is not written.
    IniFile ini;
    ini.SetSpaces(false);  // "key=value", as Windows writes INI files
    std::string raw;
    if (LoadIni(path, ini, raw) == Loaded::Failed) throw QovaError(kWriteErrorText);

    KeyWriter w(ini, s.Desktop.DecimalSeparator());
    w.Bool("NeedPointsControl", s.NeedPointsControl);
    w.Int("NeedPointsCount", s.NeedPointsCount);
    w.Text("WorkDir", s.WorkDir);
    w.Bool("Steps", s.Steps);
    w.Int("CrossSize", s.CrossSize);
    w.Float("Passive_color", s.PassiveColor);
    w.Float("Active_color", s.ActiveColor);
    w.Float("KontrastLevel", s.KontrastLevel);
    w.Int("FragmentationHeight", s.FragmentationHeight);
    w.Int("FragmentationWidth", s.FragmentationWidth);
    w.Float("CrossWindowWidth", s.CrossWindowWidth);
    w.Float("SearchWindowWidth", s.SearchWindowWidth);
    w.Float("SearchWindowHeight", s.SearchWindowHeight);
    w.Float("CrossIncreasePorog", s.CrossIncreasePorog);
    w.Float("IncreasePorog", s.IncreasePorog);
    w.Float("Max_Angle", s.MaxAngle);
    w.Text("FontName", s.IndexFont.Name);
    w.Int("FontSize", s.IndexFont.Size);
    w.Float("FontColor", s.IndexFont.Color);
    w.Bool("FontStyleBold", s.IndexFont.Bold);
    w.Bool("FontStyleItalic", s.IndexFont.Italic);
    w.Bool("FontStyleUndeline", s.IndexFont.Underline);
    w.Bool("FontStyleStrikeout", s.IndexFont.Strikeout);
    w.Bool("PreciseRefinement", s.PreciseRefinement);
    w.Float("GridPitchX", s.Calibration.GridPitchX);
    w.Float("GridPitchY", s.Calibration.GridPitchY);
    w.Text("DistortionModel", s.Calibration.DistortionModel);
    // Only once the window has been shown: the file of anyone who never
    // opens it stays as it always was.
    if (s.DistortionWindowPlace.Known()) {
      w.Int("DistortionWindowLeft", s.DistortionWindowPlace.left);
      w.Int("DistortionWindowTop", s.DistortionWindowPlace.top);
      w.Int("DistortionWindowWidth", s.DistortionWindowPlace.width);
      w.Int("DistortionWindowHeight", s.DistortionWindowPlace.height);
    }

    std::string text;
    if (ini.Save(text) < 0) throw QovaError(kWriteErrorText);
    text += TrailingComments(raw);
    // The whole file is replaced at once, so a failure leaves the old one.
    s.Desktop.WriteFile(path, WithCrLf(text));
  } catch (const std::exception&) {
    s.Desktop.MessageBox(kWriteErrorText, kErrorCaption, MsgButtons::Ok);
  }
}

}  // namespace qova
