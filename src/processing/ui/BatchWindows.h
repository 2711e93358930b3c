// The batch's questions asked with the program's windows: the download
// dialog, the stand-alone protection options dialog, the save prompt and an
// error box without owner.
#pragma once

#include "processing/Batch.h"
#include "shell/SettingsStore.h"

namespace kestrix {

class WindowBatchHooks : public BatchHooks
{
public:
    // The options dialog's values are loaded from and saved to `store`.
    explicit WindowBatchHooks(SettingsStore& store) : store_(store) {}

    DownloadStatus Download(const QString& address, QString& localFile) override;
    bool EditProtectionOptions(ProtectionEngine& engine, const std::string& page) override;
    std::optional<QString> PromptSaveFile() override;
    void ShowError(const QString& message) override;

private:
    SettingsStore& store_;
};

} // namespace kestrix
