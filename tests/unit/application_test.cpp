#include "launcher/application.h"

#include "launcher/errors.h"
#include "launcher_test.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;

using ApplicationTest = LauncherTest;

TEST_F(ApplicationTest, CreatesAHiddenWindowOfItsOwnClassInTheMiddleOfTheScreen) {
  os.screenWidth = 1365;
  os.screenHeight = 767;
  {
    TApplication app(os);
    ASSERT_EQ(os.registeredClasses.size(), 1u);
    const win::WNDCLASSA& windowClass = os.registeredClasses[0];
    EXPECT_EQ(os.registeredClassNames[0], "TApplication");
    EXPECT_EQ(windowClass.style, 0u);
    EXPECT_EQ(windowClass.lpfnWndProc, os.DefWindowProcAddress());
    EXPECT_EQ(windowClass.hInstance, FakePlatform::kInstance);
    EXPECT_EQ(windowClass.cbClsExtra + windowClass.cbWndExtra, 0);
    EXPECT_TRUE(!windowClass.hIcon && !windowClass.hCursor && !windowClass.hbrBackground &&
                !windowClass.lpszMenuName);

    ASSERT_NE(app.Handle(), nullptr);
    const auto& window = os.windows.at(app.Handle());
    EXPECT_EQ(window.className, "TApplication");
    EXPECT_EQ(window.title, "launcher");
    EXPECT_EQ(window.exStyle, 0u);
    EXPECT_EQ(window.style, 0x84CA0000u);
    EXPECT_EQ(window.x, 682);
    EXPECT_EQ(window.y, 383);
    EXPECT_EQ(window.width, 0);
    EXPECT_EQ(window.height, 0);
    EXPECT_TRUE(!window.parent && !window.menu && !window.param);
    EXPECT_EQ(window.instance, FakePlatform::kInstance);
    // Our handler replaced the class procedure right after creation.
    EXPECT_NE(window.procedure, os.DefWindowProcAddress());
    const auto names = os.CallNames();
    EXPECT_EQ(
        names.at(std::find(names.begin(), names.end(), "CreateWindowExA") - names.begin() + 1),
        "SetWindowLongA");
  }
  EXPECT_EQ(os.Count("DestroyWindow"), 1);
  EXPECT_TRUE(os.windows.begin()->second.destroyed);
}

TEST_F(ApplicationTest, TitleIsTheExecutableBaseNameWithItsFirstCharacterKept) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Tools\\launcher.exe", "launcher"},
      {"C:\\SETUP.EXE", "Setup"},
      {"C:\\dir.d\\my.tool.exe", "my"},
      {"\\\\server\\share\\\xC9TAPE.EXE", "\xC9tape"},
      {"X.EXE", "X"},
      {"C:\\AB.EXE", "Ab"},
      {"C:\\\x90QUIPE.EXE", "\xC9quipe"},  // OEM 0x90 is É
      // A stream of a file: cut at the last backslash only, then at the first full stop.
      {"C:\\Tools\\NOTES.TXT:launcher.exe", "Notes"},
  };
  os.oemToAnsi = {{0x90, 0xC9}};
  for (const auto& [path, title] : cases) {
    os.executablePath = path;
    TApplication app(os);
    EXPECT_EQ(app.Title(), title) << path;
    EXPECT_EQ(os.windows.at(app.Handle()).title, title);
  }
  EXPECT_EQ(os.CallsTo("GetModuleFileNameA").at(0).args.at(1), "256");
}

TEST_F(ApplicationTest, ClassAlreadyRegisteredIsUsedAsItIs) {
  { TApplication first(os); }
  { TApplication second(os); }
  EXPECT_EQ(os.Count("RegisterClassA"), 1);
  EXPECT_EQ(os.Count("CreateWindowExA"), 2);
}

TEST_F(ApplicationTest, ClassThatCannotBeRegisteredStopsTheStart) {
  os.InjectAt({.call = "RegisterClassA", .fail = 0});
  try {
    TApplication app(os);
    FAIL() << "no error raised";
  } catch (Exception* raw) {
    const OwnedError error(raw);
    EXPECT_EQ(error->Message(),
              "Erreur \xE0 la cr\xE9"
              "ation de la classe fen\xEAtre");
    EXPECT_STREQ(error->ClassName(), "EOutOfResources");
  }
  EXPECT_EQ(os.Count("CreateWindowExA"), 0);
}

TEST_F(ApplicationTest, WindowThatCannotBeCreatedIsDoneWithout) {
  os.InjectAt({.call = "CreateWindowExA", .fail = 0});
  {
    TApplication app(os);
    EXPECT_EQ(app.Handle(), nullptr);
    os.PostQuitMessage();
    app.PumpPendingMessages();
    EXPECT_TRUE(app.QuitRequested());
  }
  EXPECT_EQ(os.Count("SetWindowLongA"), 0);
  EXPECT_EQ(os.Count("DestroyWindow"), 0);
}

}  // namespace
}  // namespace launcher::test
