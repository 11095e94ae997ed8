// The name a whole-file replacement writes its new file under before renaming it over the old one.
#pragma once

// The suffix of a new file written beside a name and then renamed over it ("<name>.new").
const wchar_t kReplacementSuffix[] = L".new";
