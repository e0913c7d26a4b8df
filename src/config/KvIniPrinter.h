// The configuration as a document: every key the server reads, with the value
// a loaded TKestrovaIni holds, written so that the document reads back the
// same values (and so prints the same text again).
#pragma once

#include <string>

class TKestrovaIni;

// A main section [Kestrova] with the keys of each section class under a
// comment line naming it, then [ExtractPageLimit]. Flags are 1 or 0, sizes
// and times in the document's units, "no limit" as -1, lists as comma text.
// Lines end with LF.
std::string KvIniDocumentText(const TKestrovaIni& ini);
