// The printed configuration of a valid document is a document of its own that
// loads to the same values, so printing it again gives the same text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config/KestrovaIniUnit.h"
#include "config/KvIniPrinter.h"
#include "support/TestSupport.h"

// What the sections hold, as one text: every value they write back, and what
// they hold beyond that (the web interface's JSON texts, the fixed list
// settings, the captions, every page limit in its order).
inline std::string HeldValues(const TKestrovaIni& ini) {
  std::string out;
  TKvIniSection* const sections[] = {ini.Batch.get(),    ini.Converter.get(),     ini.DocumentRoot.get(),
                                     ini.IdxSvr.get(),   ini.Miscellaneous.get(), ini.SearchEngine.get(),
                                     ini.Security.get(), ini.Web.get(),           ini.WebInterface.get()};
  for (TKvIniSection* section : sections) {
    TRsValueList values;
    section->SaveTo(values);
    for (int i = 0; i < values.Items.Count(); ++i)
      out +=
          values.Items[i] + "=" + static_cast<const TRsAbstractObject*>(values.Items.Objects(i))->GetAsString() + "\n";
  }
  const TKvIniWebInterface& w = *ini.WebInterface;
  for (const TKvPathLinkActions* links : {&w.gridview_pathlink_type, &w.gridview_pathlink_type_dclick})
    out += std::to_string(links->DefaultAction) + links->ExtensionActions + "\n";
  out += w.contextmenu_file + w.contextmenu_folder + "\n" + std::to_string(w.filelist_fixedorder) + "," +
         std::to_string(w.filelist_fixedviewtype) + "," + std::to_string(w.filelist_fixedfirst) + "\n";
  for (int i = 0; i < ini.DocumentRoot->Roots.Count(); ++i) out += ini.DocumentRoot->Roots.GetItem(i)->Caption() + "\n";
  const THashedStringList& limits = ini.ExtractPageLimit->Limits;
  for (int i = 0; i < limits.Count(); ++i)
    out += limits[i] + "=" + std::to_string(static_cast<const TIntegerObject*>(limits.Objects(i))->Value) + "\n";
  return out;
}

inline void ExpectReadsBackTheSame(const TKestrovaIni& ini, const testing_support::TempDir& dir) {
  ASSERT_TRUE(ini.Valid) << ini.ErrorMessage;
  const std::string text = KvIniDocumentText(ini);
  testing_support::WriteFile(dir.Native("printed.ini"), text);
  TKestrovaIni again;
  again.Load(dir.System("printed.ini"));
  ASSERT_TRUE(again.Valid) << again.ErrorMessage << "\n" << text;
  EXPECT_EQ(HeldValues(again), HeldValues(ini)) << text;
  EXPECT_EQ(KvIniDocumentText(again), text);
}
