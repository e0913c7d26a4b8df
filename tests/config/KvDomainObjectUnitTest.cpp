#include <gtest/gtest.h>

#include "base/Exception.h"
#include "common/RsUtil.h"
#include "config/KvDomainObjectUnit.h"

namespace {

// The configured domains, read as the security section reads them.
struct Domains {
  explicit Domains(const char* text) { SplitCommaText(list, text, true, true); }
  operator const TStringList&() const { return list; }
  TStringList list;
};

std::string Users(const TKvDomainObject& domain) { return domain.Users.Text(); }

TEST(KvDomainObjectUnitTest, GroupingAndText) {
  const struct {
    const char* text;
    const char* configured;
    const char* written;
    int count;
  } cases[] = {
      {"usera, userb@corp", "", "USERA@.,USERB@CORP", 2},
      {"usera,userb@CORP", "Corp", "USERA@Corp,USERB@Corp", 1},
      {"usera, USERA@., Usera", "", "USERA@.", 1},
      {"a@x,b@y,c@x", "", "A@X,C@X,B@Y", 2},
      {"usera@corp@x", "", "USERA@CORP@X", 1},
      {"usera@", "", "USERA@.", 1},
      {"@CORP, ,\"b\"@q", "", "B@Q", 1},
      {"", "", "", 0},
  };
  for (const auto& c : cases) {
    TKvDomainObjectList list;
    list.LoadFromText(c.text, "fixed_userid_list", Domains(c.configured), "UserName@DomainName");
    EXPECT_EQ(list.GetText(), c.written) << c.text;
    EXPECT_EQ(list.Count(), c.count) << c.text;
  }
}

TEST(KvDomainObjectUnitTest, DomainsInOrderOfFirstAppearance) {
  TKvDomainObjectList list;
  list.LoadFromText("usera, userb@corp@x", "k", Domains(""), "e");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetItem(0)->Name(), ".");
  EXPECT_EQ(Users(*list.GetItem(0)), "USERA\r\n");
  EXPECT_EQ(list.GetItem(1)->Name(), "CORP@X");
  EXPECT_EQ(list.GetItem(2), nullptr);
  EXPECT_EQ(list.GetItem(-1), nullptr);

  // Loading again replaces the content.
  list.LoadFromText("z@q", "k", Domains(""), "e");
  EXPECT_EQ(list.GetText(), "Z@Q");
}

TEST(KvDomainObjectUnitTest, EntryWithoutDomainAmongSeveralDomains) {
  TKvDomainObjectList list;
  try {
    list.LoadFromText("a@x, usera, b@y", "fixed_userid_list", Domains("CORP,OTHER"), "UserName@DomainName");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "windows_domainが複数設定されている場合、fixed_userid_listにはドメイン名を指定しなければなりません。ex. "
              "UserName@DomainName");
  }
  // What came before the failing entry stays.
  EXPECT_EQ(list.GetText(), "A@X");
}

TEST(KvDomainObjectUnitTest, AddDomainTakesTheDomainAsItIs) {
  TKvDomainObjectList list;
  auto domain = std::make_unique<TKvDomainObject>();
  domain->SetName("");
  domain->Users.Add("solo");
  list.AddDomain(std::move(domain));
  EXPECT_EQ(list.GetText(), "solo");
}

}  // namespace
