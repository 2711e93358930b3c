// Remembered confirmations: the dialog, its geometry and the stored answers.
#include "shell/ui/AskWithMemory.h"
#include "platform/SettingsBackend.h"
#include "support/Translation.h"
#include "support/ui/ModalDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrix;

namespace {

// The real store of remembered answers goes to a folder of this test run.
struct ConfigHome
{
    ConfigHome() { qputenv("XDG_CONFIG_HOME", QDir::toNativeSeparators(dir.path()).toLocal8Bit()); }
    QTemporaryDir dir;
};
const ConfigHome configHome;

const QString question = QStringLiteral("Process it?");

// Every test keeps its answers in memory and starts without queued answers.
class AskWithMemoryTest : public ::testing::Test
{
protected:
    void SetUp() override { SetRememberedAnswerStoreForTesting(&store); }
    void TearDown() override
    {
        SetRememberedAnswerStoreForTesting(nullptr);
        ClearQueuedModalAnswers();
        ApplicationTranslationTable().Clear();
    }
    std::optional<QVariant> Stored(const QString& q)
    {
        return store.Backend().Read(RememberedAnswerSection(q), QStringLiteral("Default"));
    }
    SettingsStore store = SettingsStore::InMemory();
};

// An answer that records that the dialog was shown.
ModalAnswer Recording(ModalAnswer answer, bool& shown)
{
    answer.inspect = [&shown](QDialog&) { shown = true; };
    return answer;
}

// A store that refuses every write.
class ReadOnlyBackend : public MemorySettingsBackend
{
public:
    bool Write(const QString&, const QString&, const QVariant&) override { return false; }
};

} // namespace

TEST(RememberedAnswerKey, Crc32OfTheQuestion)
{
    EXPECT_EQ(RememberedAnswerSection(QStringLiteral("123456789")),
              QStringLiteral("AskWithMemory/CBF43926"));
    EXPECT_EQ(RememberedAnswerSection(QString()), QStringLiteral("AskWithMemory/00000000"));
    // The question's bytes as shown, line breaks included.
    EXPECT_NE(RememberedAnswerSection(QStringLiteral("a\r\nb")),
              RememberedAnswerSection(QStringLiteral("a\nb")));
}

TEST_F(AskWithMemoryTest, FirstAskShowsTheDialogLaidOut)
{
    ModalAnswer answer = ModalAnswer::Press(resultNo);
    bool checked = false;
    answer.inspect = [&](QDialog& d) {
        auto& dialog = dynamic_cast<TFormAskWithMemory&>(d);
        checked = true;
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Confirm"));
        EXPECT_EQ(dialog.MessageLabel()->text(), question);
        QCheckBox* box = dialog.DontAskAgain();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("Don't ask again"));
        EXPECT_FALSE(box->isChecked());
        const QRect text = dialog.MessageLabel()->geometry();
        EXPECT_EQ(box->geometry(), QRect(text.left(), text.top() + text.height() + 6, 150, 17));
        ASSERT_EQ(dialog.Buttons().size(), 2u);
        EXPECT_EQ(dialog.Buttons()[0]->text(), QStringLiteral("&Yes"));
        EXPECT_EQ(dialog.Buttons()[1]->text(), QStringLiteral("&No"));
        for (QPushButton* b : dialog.Buttons()) {
            EXPECT_EQ(b->y(), box->y() + 17 + 6);
            EXPECT_LE(b->geometry().bottom(), dialog.height());
        }
        EXPECT_TRUE(dialog.Buttons()[0]->isDefault());
    };
    QueueModalAnswer(answer);
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultNo);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(IsAnswerRemembered(question));
}

TEST_F(AskWithMemoryTest, DialogGrowsByTheCheckBox)
{
    TFormAskWithMemory dialog(question, DialogType::Warning, buttonOk | buttonCancel);
    const int height = dialog.height();
    const int buttonTop = dialog.Buttons().front()->y();
    dialog.AddDontAskAgain();
    const QRect box = dialog.DontAskAgain()->geometry();
    const int grow = box.top() + box.height() - buttonTop + 6;
    EXPECT_EQ(dialog.height(), height + grow);
    EXPECT_EQ(dialog.Buttons().back()->y(), buttonTop + grow);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Warning"));
}

TEST_F(AskWithMemoryTest, YesRememberedThenNotAskedAgain)
{
    QueueModalAnswer(ModalAnswer::Press(resultYes, true));
    EXPECT_TRUE(ConfirmFolderProcessing());
    const auto stored = Stored(FolderProcessingQuestion());
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->toInt(), 6);

    bool shown = false;
    QueueModalAnswer(Recording(ModalAnswer::Press(resultNo), shown));
    EXPECT_TRUE(ConfirmFolderProcessing());
    EXPECT_FALSE(shown);
    EXPECT_EQ(QueuedModalAnswerCount(), 1u);
}

TEST_F(AskWithMemoryTest, NoRememberedAndForgotten)
{
    QueueModalAnswer(ModalAnswer::Press(resultNo, true));
    EXPECT_FALSE(ConfirmFolderProcessing());
    EXPECT_EQ(Stored(FolderProcessingQuestion())->toInt(), 7);
    EXPECT_TRUE(IsAnswerRemembered(FolderProcessingQuestion()));
    EXPECT_FALSE(ConfirmFolderProcessing()); // not asked

    ForgetAnswer(FolderProcessingQuestion());
    EXPECT_FALSE(IsAnswerRemembered(FolderProcessingQuestion()));
    bool shown = false;
    QueueModalAnswer(Recording(ModalAnswer::Press(resultYes), shown));
    EXPECT_TRUE(ConfirmFolderProcessing());
    EXPECT_TRUE(shown);
}

TEST_F(AskWithMemoryTest, EscapeAndCloseBox)
{
    QueueModalAnswer(ModalAnswer::Escape());
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultNo);
    QueueModalAnswer(ModalAnswer::Escape());
    EXPECT_EQ(
        AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo | buttonCancel),
        resultCancel);
    QueueModalAnswer(ModalAnswer::CloseBox(true));
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), 2);
    EXPECT_EQ(Stored(question)->toInt(), 2);
}

TEST_F(AskWithMemoryTest, RememberedValuesAndKeysWithoutOne)
{
    // A key without a default value counts as remembered for the options
    // dialog, but the question is asked.
    store.WriteString(RememberedAnswerSection(question), QStringLiteral("Other"),
                      QStringLiteral("x"));
    EXPECT_TRUE(IsAnswerRemembered(question));
    bool shown = false;
    QueueModalAnswer(Recording(ModalAnswer::Press(resultYes), shown));
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultYes);
    EXPECT_TRUE(shown);

    // A value that is no number is asked again; decimal text is an answer.
    store.WriteString(RememberedAnswerSection(question), QStringLiteral("Default"),
                      QStringLiteral("yes"));
    shown = false;
    QueueModalAnswer(Recording(ModalAnswer::Press(resultNo), shown));
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultNo);
    EXPECT_TRUE(shown);
    store.WriteString(RememberedAnswerSection(question), QStringLiteral("Default"),
                      QStringLiteral("6"));
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultYes);

    EXPECT_TRUE(RememberAnswer(question, resultNo));
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultNo);
}

TEST_F(AskWithMemoryTest, UnwritableStoreUsesTheAnswerOnce)
{
    SettingsStore readOnly(std::make_unique<ReadOnlyBackend>());
    SetRememberedAnswerStoreForTesting(&readOnly);
    QueueModalAnswer(ModalAnswer::Press(resultYes, true));
    EXPECT_TRUE(ConfirmFolderProcessing());
    EXPECT_FALSE(IsAnswerRemembered(FolderProcessingQuestion()));
    EXPECT_FALSE(RememberAnswer(question, resultYes));
}

TEST_F(AskWithMemoryTest, TranslatedQuestionHasItsOwnKey)
{
    ApplicationTranslationTable().Load(
        "<//STRING_TABLE-\n"
        "E=You have selected a folder.\\r\\n\\r\\nDo you want Kestrix to process the files and "
        "sub-folders in this folder?\n"
        "T=Sie haben einen Ordner gew\xC3\xA4hlt.\\r\\n\\r\\nAlle Dateien verarbeiten?\n"
        "<//TFormAskWithMemory-\n"
        "E=Don't ask again\nT=Nicht mehr fragen\nE=&Yes\nT=&Ja\nE=&No\nT=&Nein\n"
        "E=Confirm\nT=Best\xC3\xA4tigen\n"
        // The message in the dialog's own section: its line breaks are CR LF.
        "E=Sie haben einen Ordner gew\xC3\xA4hlt.\\r\\n\\r\\nAlle Dateien verarbeiten?\n"
        "T=Ordner gew\xC3\xA4hlt.\\r\\n\\r\\nAlles verarbeiten?\n");
    const QString german =
        QString::fromUtf8("Sie haben einen Ordner gewählt.\r\n\r\nAlle Dateien verarbeiten?");
    EXPECT_EQ(FolderProcessingQuestion(), german);

    ModalAnswer answer = ModalAnswer::Press(resultYes, true);
    answer.inspect = [](QDialog& d) {
        auto& dialog = dynamic_cast<TFormAskWithMemory&>(d);
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Bestätigen"));
        EXPECT_EQ(dialog.DontAskAgain()->text(), QStringLiteral("Nicht mehr fragen"));
        EXPECT_EQ(dialog.Buttons()[0]->text(), QStringLiteral("&Ja"));
        EXPECT_EQ(dialog.MessageLabel()->text(),
                  QString::fromUtf8("Ordner gewählt.\r\n\r\nAlles verarbeiten?"));
    };
    QueueModalAnswer(answer);
    EXPECT_TRUE(ConfirmFolderProcessing());
    EXPECT_TRUE(Stored(german).has_value());

    ApplicationTranslationTable().Clear();
    const QString english = FolderProcessingQuestion();
    EXPECT_NE(english, german);
    EXPECT_FALSE(IsAnswerRemembered(english));
    bool shown = false;
    QueueModalAnswer(Recording(ModalAnswer::Press(resultNo), shown));
    EXPECT_FALSE(ConfirmFolderProcessing());
    EXPECT_TRUE(shown);
}

TEST(RememberedAnswerStore, KeptUnderTheApplicationTitle)
{
    SetRememberedAnswerStoreForTesting(nullptr);
    ASSERT_TRUE(RememberAnswer(question, resultYes));
    EXPECT_TRUE(QFile::exists(
        configHome.dir.filePath(QStringLiteral("Marquell/Marquell Kestrix v2.0.conf"))));
    EXPECT_TRUE(IsAnswerRemembered(question));
    EXPECT_EQ(AskWithMemory(question, DialogType::Confirmation, buttonYes | buttonNo), resultYes);
    ForgetAnswer(question);
    EXPECT_FALSE(IsAnswerRemembered(question));
}
