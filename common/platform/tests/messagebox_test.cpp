#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "child_process.h"
#include "ovplatform/platform.h"
#include "ovtest/scoped_env.h"
#include "ovtest/temp_prefix.h"

namespace {

using EnvironmentScope = ovtest::ScopedEnv;

class MessageBoxTest : public ovtest::PrefixTest {
protected:
    void SetUp() override { ov::ClearShownMessageBoxes(); }
    void TearDown() override {
        ov::SetMessageBoxPresenter(nullptr);
        ov::ClearShownMessageBoxes();
    }
};

TEST(MessageBoxButtons, DefaultButtonFollowsTheStyle) {
    struct Case {
        UINT style;
        int expected;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_RETRYCANCEL, IDRETRY},
        {MB_OK | MB_DEFBUTTON3, IDOK},  // no third button: the first
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ov::DefaultButton(c.style), c.expected) << std::hex << c.style;
    }
}

TEST_F(MessageBoxTest, ScriptedAnswersComeFromTheListThenTheEnvironmentThenTheDefault) {
    ov::SetMessageBoxPresenter(ov::MakeScriptedPresenter({IDNO}));
    EnvironmentScope answers("ORVANE_MSGBOX_ANSWERS", "IDCANCEL,bogus,no");
    HWND owner = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
    EXPECT_EQ(MessageBoxA(owner, "Send failed\n\nError: C-0007", "client error", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "second", "c", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "bogus answer: default", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "short name", "c", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "exhausted: default", "c", MB_OKCANCEL), IDOK);

    const auto shown = ov::ShownMessageBoxes();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].text, "Send failed\n\nError: C-0007");
    EXPECT_EQ(shown[0].caption, "client error");
    EXPECT_EQ(shown[0].style, MB_YESNO);
    EXPECT_EQ(shown[0].owner, owner);
    EXPECT_EQ(shown[0].answer, IDNO);
    ov::ClearShownMessageBoxes();
    EXPECT_TRUE(ov::ShownMessageBoxes().empty());
}

class FixedPresenter : public ov::MessageBoxPresenter {
public:
    int Present(const ov::MessageBoxRecord& box) override {
        lastText = box.text;
        return IDRETRY;
    }
    std::string lastText;
};

TEST_F(MessageBoxTest, APluggedPresenterAnswersAndNullRestoresTheDefault) {
    auto presenter = std::make_shared<FixedPresenter>();
    ov::SetMessageBoxPresenter(presenter);
    EXPECT_EQ(MessageBoxA(nullptr, "retry?", nullptr, MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(presenter->lastText, "retry?");
    EXPECT_EQ(ov::ShownMessageBoxes().at(0).caption, "Error");  // Windows' caption when none is given
    ov::SetMessageBoxPresenter(nullptr);
    // The tests run without a terminal: the default presenter is scripted.
    EXPECT_EQ(MessageBoxA(nullptr, "default presenter", "c", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
}

TEST_F(MessageBoxTest, BoxesOfAnotherProcessAreLoggedAsJsonLines) {
    const auto log = prefix_.path() / "boxes.jsonl";
    EnvironmentScope logScope("ORVANE_MSGBOX_LOG", log.string());
    EnvironmentScope answers("ORVANE_MSGBOX_ANSWERS", "IDNO");
    platformtest::Child child({"msgbox", "FAILED : \"C:\\x.ovk\"\tquoted", "print\xE4", std::to_string(MB_YESNO)});
    EXPECT_EQ(child.Wait(), IDNO);
    std::ifstream in(log);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find("\"caption\":\"print\xC3\xA4\""), std::string::npos) << line;  // UTF-8
    EXPECT_NE(line.find("\"text\":\"FAILED : \\\"C:\\\\x.ovk\\\"\\tquoted\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"style\":4"), std::string::npos) << line;
    EXPECT_NE(line.find("\"answer\":7"), std::string::npos) << line;
    EXPECT_FALSE(std::getline(in, line));
}

TEST_F(MessageBoxTest, FileChooserAnswersFromTheListThenTheEnvironment) {
    ov::SetFileChooserAnswers({"C:\\forms\\fax.oft", std::nullopt});
    EXPECT_EQ(ov::ChooseFileToOpen("Open", "*.oft"), "C:\\forms\\fax.oft");
    EXPECT_EQ(ov::ChooseFileToOpen("Open", "*.oft"), std::nullopt);
    EnvironmentScope files("ORVANE_FILE_CHOOSER", "/tmp/a.txt\n\n/tmp/b.txt");
    EXPECT_EQ(ov::ChooseFileToOpen("Open", "*.*"), "/tmp/a.txt");
    EXPECT_EQ(ov::ChooseFileToOpen("Open", "*.*"), std::nullopt);  // an empty line cancels
    EXPECT_EQ(ov::ChooseFileToOpen("Open", "*.*"), "/tmp/b.txt");
    EXPECT_EQ(ov::ChooseFileToOpen("Open", "*.*"), std::nullopt);
}

}  // namespace
