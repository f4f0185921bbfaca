// Settings: the program's process-wide settings record and its INI file.
//
// Read and written on the window thread only.  The file lies beside the
// executable (its path with the extension replaced by ".ini") when that folder
// is writable; an installed copy (say in /usr/bin) keeps it in the user's
// configuration folder instead, see DefaultSettingsFileName().
// SetSettingsFileName() names another file for this run.
//
//   [Comm]    Port Baud Parity Bits StopBit SoftFlow HardFlow
//             SleepTimeout RecvTimeout WaitTimeout   (read, never written)
//   [Central] AppID MaxLoko
//   [Monitor] Reconnect (saved with the dialog's values), and how the window
//             was left: see TMonitorSettings and TWindowPlacement
#pragma once

#include <string>

// The defaults are what LoadSettings gives a key the file does not hold.
struct TSettings {
  std::string Port = "COM1";  // serial port name
  int Baud = 9600;
  int Parity = 0;  // index 0 none, 1 odd, 2 even, 3 mark, 4 space; see ParityLetter
  int Bits = 8;
  int StopBit = 0;  // 0 one, 1 one and a half, 2 two
  bool SoftFlow = false;
  bool HardFlow = false;
  int SleepTimeout = 10;  // ms: reader's pause before each read
  int RecvTimeout = 500;  // ms: reader's regular read time-out
  int WaitTimeout = 50;   // ms: time allowed to complete a partly received message
  int AppID = 1;
  int MaxLoko = 16;
  // The window opens a lost port again when it comes back ([Monitor]).
  bool Reconnect = true;
};

extern TSettings Settings;  // view: the INI file's [Comm] and [Central] values

// [Monitor]: what the bus analyser looks for and what its trigger does.
// Read from the file with the rest (LoadSettings); the trigger's keys are
// also written by the window's "Spouštěč" dialog.  vantrel-dump reads the
// same keys.
struct TAnalysisSettings {
  int SilenceLimit = 5;        // SilenceLimit: seconds without a message that make a device silent
  int LoadLimit = 80;          // LoadLimit: % of the maximum current above which an event is said
  int BurstBytes = 16;         // BurstBytes: unrecognised bytes in a row that make a burst
  std::string TriggerEvents;   // TriggerEvents: event kinds that fire the trigger, joined by ","
  std::string TriggerPattern;  // TriggerPattern: an item whose hex or text contains it fires it
  std::string
      TriggerActions;  // TriggerActions: pause, record-start, record-stop, mark (joined by ",")
  bool TriggerBeep = false;    // TriggerBeep
  bool TriggerNotify = false;  // TriggerNotify: a desktop notification
  bool Analyser = true;        // Analyser: 0 leaves the live statistics and events out

  bool operator==(const TAnalysisSettings&) const = default;
};

// [Monitor]: the window's traffic view as the user left it.  Kept as the
// file's texts; the window checks them and falls back to its defaults for
// anything it cannot use.  Written when the window closes.
struct TMonitorSettings {
  std::string View = "grid";   // View: the right-hand side shown, "grid", "log", "traffic", "graph"
  std::string TimeMode = "a";  // TimeMode: a (local time), d (delta), z (since connecting)
  std::string Kinds;           // Kinds: kinds shown, names joined by ","; empty: the default
  std::string Devices;         // Devices: addresses in hex joined by ","; empty: every device
  std::string Filter;          // Filter: the text filter
  std::string TrafficColumns;  // TrafficColumns: widths of the traffic table, joined by ","
  std::string GridColumns;     // GridColumns: widths of the device grid, joined by ","
  int RingSize = 1000000;      // RingSize: items the traffic history keeps
  std::string CaptureFolder;   // CaptureFolder: where a capture was last recorded or opened
  int SessionStore = 1;        // SessionStore: 1 keeps the whole session on disk, 0 the ring only
  int SessionsKept = 5;        // SessionsKept: earlier sessions kept on disk
  int SessionLimitMB = 2000;   // SessionLimitMB: megabytes a session keeps at most on disk
  std::string TextFolder;      // TextFolder: where traffic lines were last saved
  std::string GraphFolder;     // GraphFolder: where a graph (PNG, CSV) was last saved
  std::string Split;           // Split: "1" shows the grid over the traffic view or the graph
  TAnalysisSettings Analysis;  // the analyser's keys (read only: the window never writes them)

  bool operator==(const TMonitorSettings&) const = default;
};

extern TMonitorSettings MonitorSettings;  // view: the INI file's [Monitor] values

// Full path of the INI file: the one named for this run, else
// DefaultSettingsFileName() of the running executable.
std::string SettingsFileName();
// Replaces the file for this run (the programs' --settings option); an empty
// path returns to the default.
void SetSettingsFileName(const std::string& path);

// Where the program at executablePath keeps its settings when no file is
// named: beside it ("/opt/x/vVantrelBus" -> "/opt/x/vVantrelBus.ini") when its
// folder is writable and not under /usr, /bin or /sbin (root may write there,
// but packaged folders are no place for settings), otherwise
// "<config>/vVantrelBus/vVantrelBus.ini" with
// <config> = $XDG_CONFIG_HOME, or ~/.config when that is unset or relative.
// On Windows: beside the .exe when its folder is writable and not under
// Program Files or the Windows folder, otherwise
// "%APPDATA%\vVantrelBus\<name>.ini" (SettingsWin.cpp).
// Loading and saving use the same answer, so a saved file is found again.
// Without any home folder it stays beside the executable (saving then fails
// with the usual error).
std::string DefaultSettingsFileName(const std::string& executablePath);

// Where the program called programName is, seen from the one at selfPath:
// beside it (an installed or unpacked copy), or, when it is not there but a
// build tree holds it, in ../src/app (the tools are built in tools/).
std::string SiblingProgramPath(const std::string& selfPath, const std::string& programName);
// The default file of that program: the headless monitor reads the window's
// settings this way, from the same build or installation.
std::string SiblingSettingsFileName(const std::string& programName);

// Fills Settings from the file.  A missing file, key or unparsable value gives
// that key's default; no file is created (temporary files that killed saves
// left beside it are removed).  Returns 0, or why the file exists
// but was not read (IniErrorText: not a regular file, over 1 MiB, an errno
// value); every value then has its default, and saving will not overwrite
// that file.
int LoadSettings();

// Fills MonitorSettings from the file's [Monitor] section (LoadSettings does
// it too).  Missing keys give the defaults above.
void LoadMonitorSettings();

// Writes the keys of MonitorSettings that changed since they were last read
// or saved (and differ from the file's), in one replacement of the file, and
// only into a file that exists (as the window placement).  Other sections
// and keys stay as they are on disk: another window's changes survive.
// Throws EIniWriteError.
void SaveMonitorSettings();

// Writes the nine stored keys of [Comm] and [Central] and Reconnect of
// [Monitor] in one atomic replacement of the file, so that the file holds
// either the old or the new values (the three time-outs are never written,
// but kept when present).  Throws
// EIniWriteError (a std::runtime_error, "Unable to write to <file>") when the
// file cannot be written, also when the file itself is read-only for this
// user; the file is then unchanged.  The per-user folder is created (mode
// 0700) when it is missing.
void SaveSettings();

// The file differs from when this program last loaded or saved it (another
// window or an editor changed it).
bool SettingsFileChanged();

// The main window's place, kept in section "Monitor" of the settings file.
struct TWindowPlacement {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Maximized = false;
};
// False when the file holds no usable placement.
bool LoadWindowPlacement(TWindowPlacement& placement);
// Writes section "Monitor" in one replacement and leaves the rest of the file
// as it is on disk now.  Only into a file that exists (confirming the dialog
// creates it) and only when a value changed.  Throws EIniWriteError.
void SaveWindowPlacement(const TWindowPlacement& placement);

// Fills MonitorSettings.Analysis from the file (LoadSettings does it too); missing
// or unparsable keys give the defaults.
void LoadAnalysisSettings();

// Parity index to the letter the serial line takes: 1 "O", 2 "E", 3 "M",
// 4 "S", anything else "N".
std::string ParityLetter(int index);

// The twelve values as "Key=value" lines in file order (booleans as 0/1).
std::string SettingsToText(const TSettings& s);
