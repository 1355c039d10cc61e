#include "launcher/error_report.h"

#include <climits>
#include <cstring>
#include <new>

#include "error_report_fixture.h"

namespace launcher::test {
namespace {

TEST_F(ErrorReportTest, ReportNamesTheModuleThatHoldsTheRaisePoint) {
  const ERegistryException error(kWrongType);
  const std::string line2 = kEol + error.Message() + "." + kEol;
  struct Case {
    std::uintptr_t address;
    std::string firstLine;
  };
  const Case cases[] = {
      {kProgramBase + 0x1A2B, "dans le module launcher.exe dans 00001A2B."},
      {0x7C801234, "dans le module kernel32.dll dans 00001234."},
      // Not committed, committed but of no module (heap, stack), or in no region at all: the
      // program, as if in its code section.
      {0x00900010, "dans le module launcher.exe dans 008FF010."},
      {0x00A00010, "dans le module launcher.exe dans 009FF010."},
      {0x12345678, "dans le module launcher.exe dans 12344678."},
      {0, "dans le module launcher.exe dans 00000000."},
  };
  os.regions.push_back({0x00A00000, 0x00A10000, 0x00A00000, true});
  for (const Case& c : cases)
    EXPECT_EQ(Report(error, c.address), "Exception ERegistryException " + c.firstLine + line2);

  // The module's name is cut at its last backslash only, a colon kept (a file's stream).
  os.executablePath = "C:\\Tools\\notes.txt:launcher.exe";
  EXPECT_EQ(
      Report(error, kProgramBase + 0x1A2B),
      "Exception ERegistryException dans le module notes.txt:launcher.exe dans 00001A2B." + line2);
}

TEST_F(ErrorReportTest, ReportEndsTheMessageWithOnePeriod) {
  const std::pair<std::string, std::string> cases[] = {
      {"Message", "Message."}, {"Message.", "Message."}, {"Attention!", "Attention!."}, {"", ""},
      {"x ", "x ."},
  };
  for (const auto& [message, shown] : cases) {
    const Exception error(message);
    EXPECT_EQ(
        Report(error, kProgramBase + 0x1000),
        "Exception Exception dans le module launcher.exe dans 00001000." + kEol + shown + kEol);
  }
}

TEST_F(ErrorReportTest, LongReportIsCutAt1023Characters) {
  const Exception error(std::string(2000, 'm'));
  const std::string text = Report(error, kProgramBase);
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.back(), 'm');  // the period and the closing line break are lost
  ShowErrorReport(os, error);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_EQ(os.boxes[0].text.size(), 1023u);
  EXPECT_EQ(os.boxes[0].text.back(), 'm');
}

TEST_F(ErrorReportTest, ReportBoxAndRuntimeErrorBox) {
  const ERegistryException error("Message");
  ShowErrorReport(os, error);
  ShowRuntimeError(os, 217, 0x0040ABCD);
  ShowRuntimeError(os, 203, 0);
  ASSERT_EQ(os.boxes.size(), 3u);
  EXPECT_EQ(os.boxes[0].owner, nullptr);
  EXPECT_EQ(os.boxes[0].caption, kReportTitle);
  EXPECT_EQ(os.boxes[0].type, 0x2010u);
  EXPECT_EQ(os.boxes[0].text,
            "Exception ERegistryException dans le module launcher.exe dans 00000000." + kEol +
                "Message." + kEol);
  EXPECT_EQ(os.boxes[1].text, "Runtime error 217 at 0040ABCD");
  EXPECT_EQ(os.boxes[1].caption, "Error");
  EXPECT_EQ(os.boxes[1].type, 0u);
  EXPECT_EQ(os.boxes[1].owner, nullptr);
  EXPECT_EQ(os.boxes[2].text, "Runtime error 203 at 00000000");
}

TEST_F(ErrorReportTest, ProcessorFaultsBecomeErrorsOfTheirClass) {
  struct Case {
    win::DWORD code;
    const char* className;
    std::string message;
    int number;
  };
  const Case cases[] = {
      {0xC000008C, "ERangeError", "Erreur de v\xE9rification d'\xE9tendue", 201},
      {0xC000008D, "EUnderflow",
       "D\xE9"
       "bordement inf\xE9rieur flottant",
       206},
      {0xC000008E, "EZeroDivide", "Division par z\xE9ro en virgule flottante", 200},
      {0xC000008F, "EInvalidOp", "Op\xE9ration en virgule flottante incorrecte", 207},
      {0xC0000090, "EInvalidOp", "Op\xE9ration en virgule flottante incorrecte", 207},
      {0xC0000091, "EOverflow",
       "D\xE9"
       "bordement en virgule flottante",
       205},
      {0xC0000092, "EInvalidOp", "Op\xE9ration en virgule flottante incorrecte", 207},
      {0xC0000093, "EUnderflow",
       "D\xE9"
       "bordement inf\xE9rieur flottant",
       206},
      {0xC0000094, "EDivByZero", "Division par z\xE9ro", 200},
      {0xC0000095, "EIntOverflow",
       "D\xE9"
       "bordement d'entier",
       215},
      {0xC0000096, "EPrivilege",
       "Instruction privil\xE9gi\xE9"
       "e",
       218},
      {0xC00000FD, "EStackOverflow",
       "D\xE9"
       "bordement de pile",
       202},
      {0xC000013A, "EControlC", "Frappe de Contr\xF4le-C", 217},
      {0xC0000006, "EExternalException", "Exception externe C0000006", 255},
      {0x80000003, "EExternalException", "Exception externe 80000003", 255},
  };
  for (const Case& c : cases) {
    const OwnedError error = Fault(c.code, 0, 0, kProgramBase + 0x1500);
    EXPECT_STREQ(error->ClassName(), c.className);
    EXPECT_EQ(error->Message(), c.message);
    EXPECT_EQ(error->RuntimeErrorNumber(), c.number);
    EXPECT_EQ(error->RaiseAddress(), kProgramBase + 0x1500);
  }
}

TEST_F(ErrorReportTest, AccessViolationTellsWhereAndWhat) {
  const std::string violation = "Violation d'acc\xE8s \xE0 l'adresse ";
  os.modulePaths[0x7C800000] = "C:\\windows\\system32\\x:kernel32.dll";
  const OwnedError read = Fault(0xC0000005, 0, 0, kProgramBase + 0x1234);
  EXPECT_STREQ(read->ClassName(), "EAccessViolation");
  EXPECT_EQ(read->RuntimeErrorNumber(), 216);
  EXPECT_EQ(read->Message(),
            violation + "00401234 dans le module 'launcher.exe'. Lecture de l'adresse 00000000");
  EXPECT_EQ(Fault(0xC0000005, 1, 0xDEAD0, 0x7C801000)->Message(),
            violation + "7C801000 dans le module 'kernel32.dll'. Ecriture de l'adresse 000DEAD0");
  EXPECT_EQ(Fault(0xC0000005, 8, 0x10, 0x00900000)->Message(),
            violation + "00900000. Ecriture de l'adresse 00000010");
  // Committed memory of no module, such as the heap: no module named either.
  os.regions.push_back({0x00A00000, 0x00A10000, 0x00A00000, true});
  EXPECT_EQ(Fault(0xC0000005, 0, 0x20, 0x00A00010)->Message(),
            violation + "00A00010. Lecture de l'adresse 00000020");
  // The whole report: the offset on the first line, the full address in the message.
  EXPECT_EQ(Report(*read, read->RaiseAddress()),
            "Exception EAccessViolation dans le module launcher.exe dans 00001234." + kEol +
                read->Message() + "." + kEol);
}

TEST_F(ErrorReportTest, FaultOutsideErrorReportingKeepsItsNumber) {
  StopErrorReporting();
  const OwnedError error = Fault(0xC0000094, 0, 0, 0x401000);
  EXPECT_EQ(error->RuntimeErrorNumber(), 200);
  StartErrorReporting(os);
}

TEST_F(ErrorReportTest, HostBoxAddsAPeriodOnlyAfterACharacterAboveIt) {
  os.ansiCodePage = 932;
  FillLeadByteSet(os);
  const std::pair<std::string, std::string> cases[] = {
      {"Message", "Message."},
      {"Message.", "Message."},
      {"Attention!", "Attention!"},
      {"Chemin/", "Chemin/."},
      {"Fin ", "Fin "},
      {"Ligne\n", "Ligne\n"},
      {"", ""},
      {"\x81-", "\x81-."},  // a double-byte character whose second byte is '-'
      {"a-", "a-"},
  };
  for (const auto& [message, shown] : cases) {
    os.boxes.clear();
    TApplication app(os);
    os.captureWindow = nullptr;
    ShowHostError(os, app.Handle(), Exception(message));
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_EQ(os.boxes[0].text, shown);
    EXPECT_EQ(os.boxes[0].owner, app.Handle());
    EXPECT_EQ(os.boxes[0].caption, "launcher");
    EXPECT_EQ(os.boxes[0].type, 0x10u);
  }
}

TEST_F(ErrorReportTest, HostBoxIsTitledWithTheWholeWindowCaption) {
  // Base names past the report title's 63 characters, up to the longest a 255-character path
  // read leaves.
  for (const size_t length : {64u, 200u, 248u}) {
    const std::string name(length, 'n');
    os.executablePath = "C:\\" + name + ".exe";
    os.boxes.clear();
    TApplication app(os);
    ASSERT_EQ(app.Title(), name);
    ShowHostError(os, app.Handle(), Exception("x"));
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_EQ(os.boxes[0].caption, name);
  }
}

TEST_F(ErrorReportTest, HostBoxCancelsAMouseCaptureFirst) {
  TApplication app(os);
  os.captureWindow = app.Handle();
  os.calls.clear();
  ShowHostError(os, app.Handle(), Exception("x"));
  const auto names = os.CallNames();
  const auto send = std::find(names.begin(), names.end(), "SendMessageA");
  ASSERT_NE(send, names.end());
  EXPECT_LT(send, std::find(names.begin(), names.end(), "MessageBoxA"));
  EXPECT_EQ(os.CallsTo("SendMessageA").at(0).args,
            (std::vector<std::string>{platform::fake::Hex(app.Handle()), "0x1F", "0", "0"}));
}

TEST_F(ErrorReportTest, ExhaustedMemoryRaisesTheErrorMadeInAdvance) {
  std::vector<Exception*> raised;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // What operator new calls when memory runs out (the sanitizer's allocator never does).
    const std::new_handler onExhaustion = std::get_new_handler();
    ASSERT_NE(onExhaustion, nullptr);
    try {
      onExhaustion();
    } catch (Exception* error) {
      raised.push_back(error);
      OwnedError release(error);  // made in advance: not released
    }
  }
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[0], raised[1]);
  EXPECT_STREQ(raised[0]->ClassName(), "EOutOfMemory");
  EXPECT_EQ(raised[0]->Message(), "M\xE9moire insuffisante");
}

}  // namespace
}  // namespace launcher::test
