// The help texts: what each command takes and what it answers.
#include "tools/usage_texts.h"

const char kUsage[] =
    "usage: mkupdate <command> [options]\n"
    "\n"
    "commands:\n"
    "  build    make an updater from the bare program and the files to ship\n"
    "  list     print the title, the payload's entries and the version records of an updater\n"
    "  verify   check an updater the way it will check itself, and every checksum\n"
    "  plan     show what an updater would do to an installation, writing nothing\n"
    "  delta    make a VCDIFF delta of a file against a base\n"
    "  apply    apply a VCDIFF delta to its base\n"
    "\n"
    "Run 'mkupdate <command> --help' for the options of a command, 'mkupdate --version' for the version.\n";

const char kBuildUsage[] =
    "usage: mkupdate build --image PROGRAM (--title TEXT | --title-file FILE)\n"
    "                      (--files FOLDER | --file SOURCE=TARGET)... --output UPDATER [--quiet]\n"
    "                      [--base FOLDER]... [--keep-full] [--compress [--level N]]\n"
    "\n"
    "  --image PROGRAM       the linked updater program (it must end by offset 0xA0000)\n"
    "  --title TEXT          the caption of every window and box, UTF-8; stored as Shift-JIS\n"
    "  --title-file FILE     the same, read from a UTF-8 text file (one line)\n"
    "  --files FOLDER        ship every file below FOLDER, installed under its path relative to\n"
    "                        FOLDER: FOLDER\\Archive\\data01200.arc installs as Archive\\data01200.arc\n"
    "  --file SOURCE=TARGET  ship SOURCE, installed as TARGET below the installation folder\n"
    "  --output UPDATER      the file to write (written whole or not at all)\n"
    "  --quiet               no progress on stderr\n"
    "  --base FOLDER         an earlier version's installation (repeatable): each shipped file found\n"
    "                        there at its path (any case) ships as a VCDIFF delta against it, one per\n"
    "                        distinct content; the whole file ships too where a base lacks it or a delta\n"
    "                        saves less than 10 %\n"
    "  --keep-full           ship every whole file beside its deltas\n"
    "  --compress            store every file and delta as a zstd frame where that saves at least 1 %\n"
    "  --level N             the zstd level, 1 to 19 (default 19: the smallest; the updater decodes\n"
    "                        every level equally fast)\n";

const char kDeltaUsage[] =
    "usage: mkupdate delta BASE NEW --output PATCH\n"
    "\n"
    "Writes PATCH, a VCDIFF delta (RFC 3284) that turns BASE into NEW: windows of at most 4 MiB of NEW,\n"
    "copies from anywhere in BASE, no secondary compression, an Adler-32 of every window. xdelta3 -d applies it.\n";
const char kApplyUsage[] =
    "usage: mkupdate apply BASE PATCH --output NEW\n"
    "\n"
    "Applies PATCH, a VCDIFF delta (ours, or xdelta3's made with -S none), to BASE and writes NEW. Exits 1,\n"
    "naming the problem, when PATCH is damaged, does not fit BASE or uses a feature this program refuses.\n";

const char kListUsage[] =
    "usage: mkupdate list UPDATER [--json]\n\n"
    "Prints the title, whether a signing certificate is present, the payload's entries (name, stored\n"
    "offset, size), the version records (path, checksum) and, in a delta package, each delta (target,\n"
    "base checksum, delta size, target size). --json prints one JSON document instead.\n";
const char kVerifyUsage[] =
    "usage: mkupdate verify UPDATER [--base FOLDER]... [--json]\n\n"
    "Exits 0 when the updater would install; otherwise names the first problem and exits 1. Every delta is\n"
    "checked against its own checksum, its structure and its bounds. With --base, each delta whose base\n"
    "an earlier version's FOLDER holds is applied to it too, and must give its target.\n";
const char kPlanUsage[] =
    "usage: mkupdate plan UPDATER [--game FOLDER] [--json]\n\n"
    "Reads the installation in FOLDER (without --game: the folder the game is registered under, as the\n"
    "updater finds it) and prints what the updater would do there, writing nothing: each target added,\n"
    "replaced, already identical or installed unchecked, with its old and new size and checksum (in a delta\n"
    "package: patched from the base found, copied whole, or identical), and the\n"
    "version list and uninstall list as the updater would leave them. Exits 0 when the update would\n"
    "apply, 1 when the package is damaged, 2 for bad input.\n";
