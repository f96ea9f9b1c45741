// The browse orders of the View menu: each puts the folder's images in its order, remembered,
// and Tab goes on from the shown image in it.
#include <gtest/gtest.h>

#include <sys/time.h>

#include "res/Resource.h"
#include "support/ui/Browsing.h"
#include "support/ui/ViewerSession.h"

using namespace vimo::test;

namespace {

// A JPEG of side x side pixels (a larger file for a larger side), taken at dateTaken (none when
// empty), changed at modified (seconds since 1970).
void MakePhoto(const std::filesystem::path& path, int side, const std::string& dateTaken, long modified) {
  RunConvert("-size " + std::to_string(side) + "x" + std::to_string(side) + " plasma:fractal -quality 90 JPEG:" +
             path.string());
  if (!dateTaken.empty()) WriteFile(path, WithExifDateTaken(ReadFile(path), dateTaken));
  const timeval times[2] = {{modified, 0}, {modified, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

TEST(BrowseOrder, EachOrderSortsTheImagesAndTabGoesOnInIt) {
  const TempDir dir;
  // By name p1 p2 p3 p4; taken p2 (no EXIF date: its file's 2019) p3 p1 p4; changed p2 p3 p4 p1;
  // in size p4 p1 p3 p2.
  MakePhoto(dir / "p1.jpg", 100, "2021:06:01 10:00:00", 1672790400);  // changed 2023-01-04
  MakePhoto(dir / "p2.jpg", 300, "", 1546300800);                     // 2019-01-01
  MakePhoto(dir / "p3.jpg", 200, "2020:06:01 10:00:00", 1672617600);  // 2023-01-02
  MakePhoto(dir / "p4.jpg", 50, "2022:06:01 10:00:00", 1672704000);   // 2023-01-03
  ViewerSession session;
  ASSERT_TRUE(session.Start({(dir / "p2.jpg").string()}));
  ASSERT_TRUE(session.WaitForImage("p2.jpg"));

  struct Case {
    UINT nOrder;
    bool reverse;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {ID_VIEW_SORT_NAME, false, {"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}},
      {ID_VIEW_SORT_NAME, true, {"p4.jpg", "p3.jpg", "p2.jpg", "p1.jpg"}},
      {ID_VIEW_SORT_TAKEN, false, {"p2.jpg", "p3.jpg", "p1.jpg", "p4.jpg"}},
      {ID_VIEW_SORT_MODIFIED, false, {"p2.jpg", "p3.jpg", "p4.jpg", "p1.jpg"}},
      {ID_VIEW_SORT_SIZE, false, {"p4.jpg", "p1.jpg", "p3.jpg", "p2.jpg"}},
      {ID_VIEW_SORT_SIZE, true, {"p2.jpg", "p3.jpg", "p1.jpg", "p4.jpg"}},
      {ID_VIEW_SORT_TAKEN, false, {"p2.jpg", "p3.jpg", "p1.jpg", "p4.jpg"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nOrder);
    if ((AfxTestAccess::IsMenuItemChecked(session.Frame(), ID_VIEW_SORT_REVERSE) != FALSE) != c.reverse) {
      ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), ID_VIEW_SORT_REVERSE));
    }
    ASSERT_TRUE(AfxTestAccess::TriggerMenuItem(session.Frame(), c.nOrder));
    EXPECT_TRUE(AfxTestAccess::IsMenuItemChecked(session.Frame(), c.nOrder));
    std::vector<std::string> names;
    for (int i = 0; i < session.Doc()->m_images.GetCount(); ++i) names.push_back(session.Doc()->m_images.GetName(i).str());
    EXPECT_EQ(names, c.expected);
  }

  // Taken last: from p2, Tab goes on through p3, p1 and p4, and there ends.
  std::vector<std::string> shown;
  ASSERT_TRUE(HoldTab(session, [&](const BrowseStep& step) { shown.push_back(step.title); }));
  EXPECT_EQ(shown, (std::vector<std::string>{"p3.jpg", "p1.jpg", "p4.jpg"}));
  session.Stop();
  EXPECT_NE(session.ProfileText().find("SortOrder=1"), std::string::npos) << session.ProfileText();
  EXPECT_NE(session.ProfileText().find("SortReverse=0"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
