// The whole program, run as a user runs it in a mod tool folder: on Linux,
// and the Windows program under Wine. Each row gives the files before, what
// the console shows and which files change, after the user types a version;
// every other file must come back byte for byte, with no temporary file left.
// Shell lines around the run set up what plain files cannot (devices, owners,
// modes, limits, injected faults) and check what bytes cannot show; they name
// the files $LOG, $SETTINGS and $CATALOGUE. Under Wine, second_program holds,
// locks, scans or renames a file, before the run or while the updater waits
// at the version prompt.
#include <sys/wait.h>

#include <csignal>
#include <map>
#include <optional>

#include "support.h"

namespace {

using namespace test_support;
using namespace std::string_literals;
using file_set = std::map<std::string, std::string>;
using file_changes = std::map<std::string, std::optional<std::string>>;  // nullopt: gone

// The Linux program: the one built here, or the released one the environment names.
const char* const kProgram =
    std::getenv("VERSION_UPDATER_PROGRAM") ? std::getenv("VERSION_UPDATER_PROGRAM") : PROGRAM_PATH;
const std::string kLogPath = "logs/Zelbix.log", kConfigPath = "configs/UserConfiguration.xml",
                  kCataloguePath = "configs/games/TheForest/Versions.xml";
const std::string kLog = "[12:00:00] Zelbix 2.1\r\n[12:00:01] Game checksum: 3f2a9c\r\n";
const std::string kDeclaration = "<?xml version=\"1.0\"?>\n";
const std::string kSettings =
    "<UserConfiguration><autoupdate>true</autoupdate><updateversions>"
    "true</updateversions><language>en</language></UserConfiguration>";
const std::string kPatched =
    kDeclaration +
    "<UserConfiguration>\n\t<autoupdate>false</autoupdate>\n\t<updateversions>"
    "false</updateversions>\n\t<language>en</language>\n</UserConfiguration>\n";

// A catalogue in the program's layout, with checksums `size` bytes long.
std::string catalogue(std::size_t entries = 2, std::size_t size = 8) {
  std::string text = kDeclaration + "<versions>\n";
  for (std::size_t i = 0; i < entries; ++i) {
    text += "\t<version id=\"0." + std::to_string(i) + "\">\n\t\t<checksum>" +
            std::string(size, char('a' + i % 26)) + "</checksum>\n\t</version>\n";
  }
  return text + "</versions>\n";
}
// `before` with the entry that the program adds at the end of `versions`, `times` times.
std::string recorded(std::string before = catalogue(), const std::string& id = "0.48",
                     int times = 1) {
  while (times-- > 0) {
    before.insert(before.size() - 12,
                  "\t<version id=\"" + id + "\">\n\t\t<checksum>3f2a9c</checksum>\n\t</version>\n");
  }
  return before;
}

std::string utf16(const std::string& ascii) {  // little-endian, after a byte-order mark
  std::string wide = "\xFF\xFE";
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}
// Settings nested `depth` elements deep: compact, or as the program writes them back.
std::string nested(int depth, bool written, int level = 0) {
  const std::string tabs(written ? level : 0, '\t'), end = written ? "\n" : "",
                                                     name = level ? "a" : "UserConfiguration";
  if (level == depth - 1) return tabs + "<" + name + (written ? " />" : "/>") + end;
  return tabs + "<" + name + ">" + end + nested(depth, written, level + 1) + tabs + "</" + name +
         ">" + end;
}

const std::string kStart = "Start Zelbix, close it and hit enter...\n",
                  kNoLog = kStart +
                           "Could not find Logs (logs/Zelbix.log). Make sure it exists "
                           "and this file is in the same folder as Zelbix.exe.\n",
                  kDone = "Done. You can now start Zelbix.\n",
                  kMissing = "Missing version. Examples: 0.48, 0.49b\n",
                  kUnreadableLog = kStart + "Could not read the game checksum from " + kLogPath;
// The console of a run that shows `checksum`, could not update the settings
// for the reason `settings`, and ends as `end` says.
std::string says(const std::string& settings, const std::string& end,
                 const std::string& checksum = "3f2a9c") {
  const std::string failed =
      "Could not update " + kConfigPath + ": " + settings +
      ". The settings autoupdate and updateversions were not switched off.\n";
  return kStart + "Checksum: " + checksum + "\n\n" + (settings.empty() ? "" : failed) +
         "The Forest Version (e.g.: 0.48):\n" + end;
}
std::string not_recorded(const std::string& why, const std::string& version = "0.48") {
  return "Could not record version " + version + " in " + kCataloguePath + ": " + why + ".\n";
}

file_set mod_tool(const std::string& path = "", std::optional<std::string> bytes = std::nullopt) {
  file_set files = {{kLogPath, kLog}, {kConfigPath, kSettings}, {kCataloguePath, catalogue()}};
  bytes ? void(files[path] = *bytes) : void(files.erase(path));
  return files;
}
const std::string kOddChecksum =
    not_recorded("the checksum contains characters the catalogue cannot hold");
const file_changes kSettingsOff = {{kConfigPath, kPatched}};
const file_changes kRecorded = {{kConfigPath, kPatched}, {kCataloguePath, recorded()}};
const file_changes kOnlyRecorded = {{kCataloguePath, recorded()}};

// linux_unsanitized: not with the sanitizers, which an address-space limit stops.
enum platforms { both, linux_only, linux_as_root, linux_unsanitized, windows_only };
const bool kSanitized = std::getenv("ASAN_OPTIONS") != nullptr;  // as the sanitizer suite runs

struct row {
  const char* name;
  platforms where;
  file_set before;
  std::string shown;
  file_changes after;
  std::string typed = "0.48\n";
  std::string setup = "";             // a shell line run in the folder before
  std::string command = "{program}";  // how the program is started
  std::string check = "";             // a shell line that must succeed after
  std::string at_prompt = "";         // a shell line run once the version prompt shows
  int status = 0;
  friend void PrintTo(const row& row, std::ostream* out) { *out << row.name; }
};

const std::string kWaiting = "Waiting for another copy of the updater ...\n",
                  kTurnTaken = "another copy of the updater is still editing it";
const std::string kUntilHeld = " > ../held & until [ -s ../held ]; do sleep 0.05; done";
// A leak check cannot run under a tracer.
const std::string kStrace = "ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace ";
const std::string kFsync = kStrace + "-o /dev/null -e trace=fsync,renameat -e inject=fsync:";
const std::string kBig = "the file would exceed the size limit";
// A catalogue that takes a while to write, so that another program can act meanwhile.
const std::string kWide = catalogue(2, 8 << 20);
const std::string kBigWord = "{ head -c 100000000 /dev/zero | tr '\\0' 1; echo .5; } > ../big";

// clang-format off
const std::vector<row> kRows = {
  {"records a version after writing the settings, whatever the arguments", both,
   mod_tool(kCataloguePath, catalogue(2, 3 << 19)), says("", kDone), {{kConfigPath, kPatched},
   {"settings at the prompt", kPatched}, {kCataloguePath, recorded(catalogue(2, 3 << 19),
   "0.48\xC3\xA9")}}, "\t\n0.48\xC3\xA9 beta\nmore\n", "", "{program} --help '/?' 0.49", "",
   "cp $SETTINGS 'settings at the prompt'"},
  {"a word without a point", both, mod_tool(), says("", kMissing), kSettingsOff, "48\n"},
  {"a folder is not a log", both, mod_tool(), kNoLog, {}, "0.48\n", "rm $LOG && mkdir $LOG"},
  {"no marked line", both, mod_tool(kLogPath, "game checksum: 3f2a9c\n"), kStart + "Checksum not "
   "found. Terminating...\n", {}},
  {"settings of only a comment, a catalogue of only a broken one", both, {{kLogPath, kLog},
   {kConfigPath, "<?xml version=\"1.0\"?><!---->"}, {kCataloguePath, "<!-- a -- b -->"}},
   says("", not_recorded("the file is not well-formed XML at line 1, column 10: not well-formed "
   "(invalid token)")), {{kConfigPath, kDeclaration}}},
  {"settings in UTF-16 without byte-order mark, a catalogue in UTF-32", both, {{kLogPath, kLog},
   {kConfigPath, "\n\0<\0U\0/\0>\0"s}, {kCataloguePath, "\0\0\0<\0\0\0v\0\0\0/\0\0\0>"s}},
   says("the file is not XML", not_recorded("the file's encoding (UTF-32) is not one the updater "
   "reads")), {}},
  {"the patch: the last child of the first setting, no text made", both,
   mod_tool(kConfigPath, "<UserConfiguration><autoupdate>\n</autoupdate><updateversions><x/>true"
     "</updateversions><updateversions>true</updateversions></UserConfiguration>"),
   says("", kDone), {{kCataloguePath, recorded()}, {kConfigPath, kDeclaration + "<UserConfigur"
     "ation>\n\t<autoupdate />\n\t<updateversions>\n\t\t<x />false</updateversions>\n\t"
     "<updateversions>true</updateversions>\n</UserConfiguration>\n"}}},
  {"what XML 1.0 refuses", both, {{kLogPath, kLog}, {kConfigPath, "<UserConfiguration a='1' "
   "a='2'/>"}, {kCataloguePath, catalogue(2, 9 << 20) + "0.47 = e83f1a9c (add me)\n"}}, says("the "
   "file is not well-formed XML at line 1, column 26: duplicate attribute", not_recorded("the file "
   "is not well-formed XML at line 10, column 1: junk after document element")), {}},
  {"encodings and entities the document would change", both, {{kLogPath, kLog}, {kConfigPath,
   "<!DOCTYPE UserConfiguration [<!ENTITY me 'Jos\xC3\xA9'>]><UserConfiguration/>"},
   {kCataloguePath, "<?xml version='1.0' encoding='latin10'?><versions>\xE9</versions>"}},
   says("the file declares entities", not_recorded("the file's encoding (latin10) is not one the "
   "updater reads")), {}},
  {"an entity XML does not define, and one an external document type may define", both,
   {{kLogPath, kLog}, {kCataloguePath, "<versions>&nbsp;</versions>"}, {kConfigPath,
   "<!DOCTYPE UserConfiguration SYSTEM 'u.dtd'><UserConfiguration>&nbsp;</UserConfiguration>"}},
   says("the file's document type refers to definitions outside it", not_recorded("the file "
   "is not well-formed XML at line 1, column 11: undefined entity")), {}},
  {"attribute defaults and types declared in a document type", both, {{kLogPath, kLog},
   {kConfigPath, "<!DOCTYPE UserConfiguration [<!ATTLIST a b NMTOKEN #IMPLIED>]>"
   "<UserConfiguration/>"},
   {kCataloguePath, "<!DOCTYPE versions [<!ATTLIST version id CDATA '0.47'>]><versions/>"}},
   says("the file declares attribute defaults or types", not_recorded("the file declares attribute "
   "defaults or types")), {}},
  {"another version of XML, a carriage return in text", both, {{kLogPath, kLog}, {kConfigPath,
   "<?xml version='1.1'?><UserConfiguration/>"}, {kCataloguePath, "<versions>a&#13;</versions>"}},
   says("the file declares XML version 1.1, not 1.0", not_recorded("the file's text holds a "
   "carriage return (&#13;)")), {}},
  {"what loads as always: UTF-16, latin1, CDATA, a plain document type", both, {{kLogPath, kLog},
   {kConfigPath, utf16("<?xml version='1.0' encoding='UTF-16'?><!DOCTYPE UserConfiguration ["
     "<!ATTLIST a b CDATA #IMPLIED>]><UserConfiguration><!-- c --><autoupdate><![CDATA[true]]>"
     "</autoupdate></UserConfiguration>")},
   {kCataloguePath, "<?xml version='1.0' encoding='Latin1'?>\n<versions>\n\t<version id=\"0."
     "\xE9\">\n\t\t<checksum>aaaaaaaa</checksum>\n\t</version>\n</versions>\n"}},
   says("", kDone), {{kConfigPath, kDeclaration + "<UserConfiguration>\n\t<autoupdate><![CDATA["
     "false]]></autoupdate>\n</UserConfiguration>\n"},
   {kCataloguePath, recorded(catalogue(1).replace(catalogue(1).find("0\">"), 1, "\xC3\xA9"))}}},
  {"nested 32 elements deep, and 33", both, mod_tool(kConfigPath, nested(32, false)),
   says("", not_recorded("the file is nested more than 32 elements deep")),
   {{kConfigPath, kDeclaration + nested(32, true)}}, "0.48\n", "echo '<versions>" +
   nested(32, false) + "</versions>' > $CATALOGUE"},
  {"a version XML cannot hold", both, mod_tool(), says("", not_recorded("the version contains "
   "characters the catalogue cannot hold", "a???.5?(???????")), kSettingsOff,
   "\xEF\xBB\xBF" "a\x1a\x01\0.5\xC3(\x7F\xC2\x85\xC0\xAE\xED\xA0\x80\n"s},
  {"a checksum with a carriage return, after a 0x1A byte", both, mod_tool(kLogPath, "\x1a\nGame "
   "checksum: 3f\r2a\n"), says("", kOddChecksum, "3f\r2a"), kSettingsOff},
  {"a checksum of a tab", both, mod_tool(kLogPath, "Game checksum: \t\n"), says("", kOddChecksum,
   "\t"), kSettingsOff},
  {"read-only files, also for an administrator", both, mod_tool(), says("the file is read-only",
   not_recorded("the file is read-only")), {}, "0.48\n", "chmod 444 $SETTINGS $CATALOGUE"},

  {"copies at once take turns", both, mod_tool(kCataloguePath, catalogue(2000)), "", {{kConfigPath,
   kPatched}, {kCataloguePath, recorded(catalogue(2000), "0.48", 10)}}, "0.48\n", "", "for i in "
   "$(seq 10); do {program} > ../copy$i & done; wait", "[ $(cat ../copy* | grep -c Done) = 10 ]"},
  {"another program keeps the turn of the copies in both folders", linux_only, mod_tool(), says(
   kTurnTaken, kWaiting + not_recorded(kTurnTaken)).insert(kStart.size() + 18, kWaiting), {},
   "0.48\n", "flock configs flock configs/games/TheForest sh -c 'echo; exec sleep 25'" + kUntilHeld},
  // A change that keeps the size and the modification time: only the change time tells.
  {"the catalogue rewritten in place, keeping its size and time, while the version prompt waits",
   both, mod_tool(), says("", kDone), {{kConfigPath, kPatched}, {kCataloguePath, recorded(
   catalogue().replace(catalogue().find("0.0"), 3, "0.7"))}}, "0.48\n", "", "{program}", "",
   "cp -p $CATALOGUE ../old && sed 's/\"0.0\"/\"0.7\"/' ../old > $CATALOGUE && touch -r ../old "
   "$CATALOGUE"},
  {"the catalogue removed while the version prompt waits", both, mod_tool(), says("",
   not_recorded("the file does not exist")), {{kConfigPath, kPatched}, {kCataloguePath,
   std::nullopt}}, "0.48\n", "", "{program}", "", "rm $CATALOGUE"},

  // The settings change once, in place with their old size and time, while their new content is
  // flushed; the catalogue changes all the time: it is tried four times.
  {"settings changed during their rewrite, a catalogue that keeps changing", linux_only, mod_tool(),
   says("", not_recorded("the file was changed by another program meanwhile; run the updater "
   "again")), {{kConfigPath, std::string(kPatched).replace(kPatched.find(">en<"), 4, ">de<")}},
   "0.48\n", "",
   "{ until ls $SETTINGS.tmp-* >/dev/null 2>&1; do sleep 0.01; done; cp -p $SETTINGS ../old; "
   "sed 's/>en</>de</' ../old > $SETTINGS; touch -r ../old $SETTINGS; for i in $(seq 1000); do "
   "touch $CATALOGUE; sleep 0.01; done; } & trap \"kill $!\" EXIT; " + kStrace +
   "-y -o ../trace -e trace=openat,fsync -e inject=fsync:delay_enter=300000 {program}",
   "[ $(grep -c 'O_NONBLOCK.*Versions.xml>$' ../trace) = 8 ]"},
  {"closed input, output into a pipe whose reader has gone", linux_only, mod_tool(kLogPath, "0.9 "
   "start\nGame checksum: 3f2a9c\n"), "", kSettingsOff, "", "", "bash -c 'set -o pipefail; (sleep "
   "0.3; exec \"$0\" <&-) | true' {program}"},
  // The limit cuts the catalogue's last write short; each file's writing ends at its first failure.
  {"a file size limit, met by a wide document", linux_only, mod_tool(kCataloguePath,
   catalogue(2000)), says(kBig, not_recorded(kBig)), {}, "0.48\n", "{ echo '<a>'; yes '<b/>' | "
   "head -n 200000; echo '</a>'; } > $SETTINGS", kStrace + "-o ../trace -e trace=write env "
   "--default-signal=XFSZ prlimit --fsize=132898 {program}", "[ $(grep -c EFBIG ../trace) = 2 ]"},
  {"a flush to disk fails, then a rename", linux_only, mod_tool(),
   says("input/output error", not_recorded("input/output error")), {}, "0.48\n", "",
   kFsync + "error=EIO:when=1 -e inject=renameat:error=EIO:when=1 {program}"},
  {"a log that fails to read", linux_only, mod_tool(), kUnreadableLog + ": a read of the file "
   "failed.\n", {}, "0.48\n", "", kStrace + "-o /dev/null -P $LOG -e inject=read:error=EIO {program}"},
  {"settings that fail to read", linux_only, mod_tool(), says("input/output error", kDone),
   kOnlyRecorded, "0.48\n", "", kStrace + "-o /dev/null -P $SETTINGS -e trace=read -e "
   "inject=read:error=EIO {program}"},
  {"Ctrl+C during a write-back", linux_only, mod_tool(), kStart + "Checksum: 3f2a9c\n\n", {},
   "0.48\n", "", kFsync + "signal=SIGINT {program}", "", "", 128 + SIGINT},
  {"a pipe is not a log", linux_only, mod_tool(), kNoLog, {}, "0.48\n", "rm $LOG && mkfifo $LOG",
   "timeout 20 {program}"},
  {"a device and a pipe in place of the files", linux_as_root, mod_tool(),
   says("it is not a regular file", not_recorded("it is not a regular file")), {}, "0.48\n",
   "mknod null c 1 3 && ln -sf ../null $SETTINGS && rm $CATALOGUE && mkfifo $CATALOGUE && "
   "{ { exec 3> $CATALOGUE; touch ../opened; } & }", "timeout 20 {program}",
   "[ -c $SETTINGS ] && [ -p $CATALOGUE ] && [ ! -e ../opened ] && cat $CATALOGUE"},
  {"modes, special bits, owner and links are kept", linux_as_root, mod_tool(kConfigPath),
   says("", kDone), {{kConfigPath, kDeclaration}, {kCataloguePath, recorded()}, {"real.xml",
   recorded()}}, "0.48\n", "mv $CATALOGUE real.xml && ln -s $PWD/real.xml $CATALOGUE && chown -h "
   "65534:65534 real.xml $CATALOGUE && chmod 6775 real.xml", "sh -c 'umask 027; exec \"$0\"' "
   "{program}", "[ -L $CATALOGUE ] && [ $(stat -c %a:%u real.xml) = 6775:65534 ] && [ $(stat -c "
   "%a $SETTINGS) = 640 ]"},
  {"links of another user: dangling, or further down a chain", linux_as_root, mod_tool(kConfigPath),
   says("it is a symbolic link of another user", not_recorded("the way to it goes through a "
   "symbolic link of another user")), {}, "0.48\n", "echo root only > secret && ln -s secret hop "
   "&& ln -s ../planted.xml $SETTINGS && chown -h 65534 hop $SETTINGS && ln -sf ../../../hop "
   "$CATALOGUE"},
  {"a shared folder: a link of root, another user's file, the group, attributes", linux_as_root,
   mod_tool(), says("the file belongs to another user, who would lose it", kDone),
   {{kCataloguePath, recorded()}, {"configs/shared.xml", recorded()}}, "0.48\n",
   "mv $CATALOGUE configs/shared.xml && chown -R 1000:4242 . && chown 65534 $SETTINGS && chmod -R "
   "g+w . && chmod 660 $SETTINGS configs/shared.xml && ln -s ../../shared.xml $CATALOGUE && "
   "setfattr -n user.origin -v zelbix configs/shared.xml && setfacl -d -m u:65534:r configs",
   "setpriv --reuid=1000 --regid=1000 --groups=4242 {program}", "[ $(stat -c %u:%g:%a "
   "configs/shared.xml) = 1000:4242:660 ] && [ -L $CATALOGUE ] && [ -z \"$(getfacl -cs "
   "configs/shared.xml)\" ] && [ $(getfattr --only-values -n user.origin configs/shared.xml) = "
   "zelbix ]"},
  {"extended attributes that cannot be kept", linux_only, mod_tool(),
   says("its extended attributes could not be kept", kDone), kOnlyRecorded, "0.48\n",
   "setfattr -n user.origin -v zelbix $SETTINGS", kStrace + "-o /dev/null -e inject=fsetxattr:"
   "error=ENOSPC {program}"},
  {"links the system keeps for a running program, a link to itself", linux_only, mod_tool(),
   says("the way to it goes through a link the system keeps for a running program", not_recorded(
   "too many levels of symbolic links")), {}, "0.48\n", "ln -sf /proc/self/fd/0 $SETTINGS && "
   "ln -sf Versions.xml $CATALOGUE"},
  {"a log that is a link of another user", linux_as_root, mod_tool(), kUnreadableLog + ": it is a "
   "symbolic link of another user.\n", {}, "0.48\n",
   "echo 'Game checksum: secret' > ../secret && chmod 600 ../secret && ln -sf ../../secret $LOG "
   "&& chown -h 65534 $LOG"},
  {"folders that only let files be added (and may not be listed), or nothing", linux_as_root,
   mod_tool(), says("the folder may not be changed", not_recorded("the folder only lets files be "
   "added")), {}, "0.48\n", "chown -R 65534 . && chmod 300 configs/games/TheForest && chattr +i "
   "configs && chattr +a configs/games/TheForest", "setpriv --reuid=65534 --regid=65534 "
   "--clear-groups {program}", "chattr -i configs && chattr -a configs/games/TheForest"},
  {"settings the user may not read, a catalogue the user may not write", linux_as_root, mod_tool(),
   says("permission denied", not_recorded("permission denied")), {}, "0.48\n", "chown -R "
   "65534:65534 . && chown 0:0 $CATALOGUE && chmod 200 $SETTINGS", "setpriv --reuid=65534 "
   "--regid=65534 --clear-groups {program}"},
  {"a 100 MB log line, in little memory", linux_only, mod_tool(), says("", kDone), kRecorded,
   "0.48\n", "{ head -c 100000000 /dev/zero | tr '\\0' x; echo; cat $LOG; } > l && mv l $LOG",
   "/usr/bin/time -f %M -o ../peak {program}", "[ $(cat ../peak) -lt 65536 ]"},
  {"a 100 MB version, in too little memory to read it", linux_unsanitized, mod_tool(),
   says("", "Could not read the version: not enough memory.\n"), kSettingsOff, "", kBigWord,
   "sh -c 'ulimit -v 150000; exec \"$0\" < ../big' {program}"},
  {"a 100 MB version, in too little memory to record it", linux_unsanitized, mod_tool(),
   says("", "Could not record the version in " + kCataloguePath + ": not enough memory.\n"),
   kSettingsOff, "", kBigWord, "sh -c 'ulimit -v 214000; exec \"$0\" < ../big' {program}"},
  {"a 100 MB checksum, in too little memory to read it", linux_unsanitized, mod_tool(),
   kUnreadableLog + ": not enough memory.\n", {}, "",
   "{ printf 'Game checksum: '; head -c 100000000 /dev/zero | tr '\\0' x; } > $LOG",
   "sh -c 'ulimit -v 150000; exec \"$0\"' {program}"},
  {"settings too large to load and a catalogue too large to read strictly, in little memory",
   linux_unsanitized, mod_tool(), says("not enough memory", not_recorded("not enough memory")), {},
   "0.48\n", "{ echo '<UserConfiguration>'; yes '<a/>' | head -n 2000000; echo "
   "'</UserConfiguration>'; } > $SETTINGS && { printf '<versions a=\"'; head -c 20000000 /dev/zero "
   "| tr '\\0' 1; echo '\"/>'; } > $CATALOGUE", "sh -c 'ulimit -v 60000; exec \"$0\"' {program}"},
  {"a hidden catalogue held for half a second", windows_only, mod_tool(), says("", kDone), kRecorded,
   "0.48\n", "setfattr -n user.DOSATTRIB -v '\"0x2\"' $CATALOGUE", "{program}", "[ $(($(getfattr "
   "--only-values -n user.DOSATTRIB $CATALOGUE) & 2)) = 2 ]", "second_program hold $CATALOGUE 500" +
   kUntilHeld},
  {"the new catalogue opened by a virus scanner the moment it can", windows_only, mod_tool(),
   says("", kDone), kRecorded, "0.48\n", "", "{program}", "",
   "second_program scan $CATALOGUE 3000" + kUntilHeld},
  // Held from the moment the new content is written, past the wait of the replace.
  {"a catalogue held for good", windows_only, mod_tool(kCataloguePath, kWide),
   says("", not_recorded("the file is in use by another program")), kSettingsOff, "0.48\n", "",
   "{program}", "", "second_program grab $CATALOGUE 4000" + kUntilHeld},
  {"a catalogue changed by the program that holds it while the replace waits", windows_only,
   mod_tool(kCataloguePath, kWide), says("", kDone), {{kConfigPath, kPatched}, {kCataloguePath,
   recorded(std::string(kWide).replace(kWide.find("0.0"), 3, "0.7"))}}, "0.48\n", "", "{program}",
   "", "second_program change $CATALOGUE 1000" + kUntilHeld},
  {"a log held without sharing", windows_only, mod_tool(), kUnreadableLog + ": the file is in use "
   "by another program.\n", {}, "0.48\n", "",
   "second_program lock $LOG 3000" + kUntilHeld + "; {program}"},
  {"the log renamed while the program waits, the files links to others", windows_only,
   mod_tool(), says("", kDone), {{kConfigPath, kPatched}, {kCataloguePath, recorded()},
    {"real.xml", recorded()}, {"s.xml", kPatched}, {kLogPath, std::nullopt},
    {"logs/Zelbix.old", kLog}}, "0.48\n", "mv $CATALOGUE real.xml && ln -s ../../../real.xml "
   "$CATALOGUE && mv $SETTINGS s.xml && ln -s ../s.xml $SETTINGS", "{program}",
   "[ -L $CATALOGUE ] && [ -L $SETTINGS ]", "second_program rename $LOG logs/Zelbix.old"},
};
// clang-format on

// Runs a shell line in `folder`; gives its exit status.
int shell(const fs::path& folder, const std::string& line) {
  const std::string files =
      "LOG=" + kLogPath + " SETTINGS=" + kConfigPath + " CATALOGUE=" + kCataloguePath;
  const int status = std::system(
      ("cd " + shell_word(folder) + " && " + files + " bash -c " + shell_word(line)).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every regular file below `folder`, by path relative to it with "/".
file_set files_below(const fs::path& folder) {
  file_set files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (std::error_code error; entry.is_regular_file(error)) {
      files[entry.path().lexically_relative(folder).generic_string()] = read_file(entry.path());
    }
  }
  return files;
}

class EndToEndTest : public testing::TestWithParam<row> {};

TEST_P(EndToEndTest, ConsoleAndFiles) {
  const row& row = GetParam();
  if (row.where != both && (row.where == windows_only) == !kWindowsProgram) GTEST_SKIP();
  if (row.where == linux_as_root && geteuid() != 0) GTEST_SKIP() << "needs root";
  if (row.where == linux_unsanitized && kSanitized) GTEST_SKIP() << "built with sanitizers";
  const fs::path folder = fresh_folder() / "modtool";
  for (const auto& [path, bytes] : row.before) write_file(folder / path, bytes);
  ASSERT_EQ(shell(folder, row.setup), 0);
  file_set expected = files_below(folder);
  for (const auto& [path, bytes] : row.after)
    bytes ? void(expected[path] = *bytes) : void(expected.erase(path));

  std::string program = shell_word(kProgram), command = row.command, line;
  if (kWindowsProgram) {
    program = "env WINEPREFIX=" + shell_word(fs::path(kWindowsProgram).parent_path() / "wine") +
              " " + shell_word(WINE_RUNNER) + " " + shell_word(kWindowsProgram);
    line = "second_program() { " + wine("tests/hold_file.exe") + " \"$@\"; }; ";
  }
  const std::string typed = row.at_prompt.empty() ? " < " + shell_word(folder / "../typed") : "";
  write_file(folder / "../typed", row.typed);
  if (!row.at_prompt.empty()) {  // the version is typed once the command at the prompt has run
    command = "{ for i in $(seq 600); do grep -q Version ../shown && break; sleep 0.05; done; { " +
              row.at_prompt + "; } >> ../errors 2>&1; cat ../typed; } | " + command;
  }
  for (std::size_t at; (at = command.find("{program}")) != std::string::npos;) {
    command.replace(at, 9, program + typed);
  }
  EXPECT_EQ(shell(folder, line + command + " > ../shown 2>> ../errors"), row.status)
      << read_file(folder / "../errors");

  EXPECT_EQ(read_file(folder / "../shown"), row.shown);
  EXPECT_EQ(files_below(folder), expected);
  EXPECT_EQ(shell(folder, row.check), 0) << row.check;
}

INSTANTIATE_TEST_SUITE_P(Rows, EndToEndTest, testing::ValuesIn(kRows));

}  // namespace
