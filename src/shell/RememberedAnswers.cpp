#include "shell/RememberedAnswers.h"

#include "support/Translation.h"

#include <zlib.h>

namespace kestrix {

namespace {

const QString defaultValueName = QStringLiteral("Default");

SettingsStore*& TestStore()
{
    static SettingsStore* store = nullptr;
    return store;
}

template <class F> auto WithAnswerStore(F&& f)
{
    if (SettingsStore* store = TestStore())
        return f(*store);
    SettingsStore store = OpenRememberedAnswers();
    return f(store);
}

} // namespace

QString RememberedAnswerSection(const QString& question)
{
    const QByteArray bytes = question.toLocal8Bit();
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                            uInt(bytes.size()));
    return QStringLiteral("AskWithMemory/") +
           QStringLiteral("%1").arg(qulonglong(crc), 8, 16, QLatin1Char('0')).toUpper();
}

std::optional<int> RememberedAnswer(const QString& question)
{
    const QString section = RememberedAnswerSection(question);
    return WithAnswerStore([&](SettingsStore& store) -> std::optional<int> {
        if (!store.ValueExists(section, defaultValueName))
            return std::nullopt;
        // A value that is no number is not an answer: the question is asked.
        constexpr int none = -2147483647 - 1;
        const int value = store.ReadInteger(section, defaultValueName, none);
        if (value == none)
            return std::nullopt;
        return value;
    });
}

bool IsAnswerRemembered(const QString& question)
{
    const QString section = RememberedAnswerSection(question);
    return WithAnswerStore(
        [&](SettingsStore& store) { return !store.Backend().Names(section).isEmpty(); });
}

bool RememberAnswer(const QString& question, int result)
{
    const QString section = RememberedAnswerSection(question);
    return WithAnswerStore([&](SettingsStore& store) {
        return store.WriteInteger(section, defaultValueName, result) && store.Flush();
    });
}

void ForgetAnswer(const QString& question)
{
    const QString section = RememberedAnswerSection(question);
    WithAnswerStore([&](SettingsStore& store) {
        store.DeleteSection(section);
        return store.Flush();
    });
}

QString FolderProcessingQuestion()
{
    return Tr("You have selected a folder.\r\n\r\nDo you want Kestrix to process the files and "
              "sub-folders in this folder?");
}

SettingsStore OpenRememberedAnswers()
{
    return SettingsStore(std::make_unique<QSettingsBackend>(
        QString::fromLatin1(settingsOrganisation), ApplicationTitle()));
}

void SetRememberedAnswerStoreForTesting(SettingsStore* store)
{
    TestStore() = store;
}

} // namespace kestrix
