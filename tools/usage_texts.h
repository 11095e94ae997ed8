// mkupdate's help: the program's and each command's usage, as `--help` prints them and usage problems end with.
#pragma once

extern const char kUsage[];
extern const char kBuildUsage[];
extern const char kListUsage[];
extern const char kVerifyUsage[];
extern const char kPlanUsage[];
extern const char kDeltaUsage[];
extern const char kApplyUsage[];
