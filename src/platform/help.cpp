// The help window: our HTML pages in a text browser, one window for the whole program,
// opened at the page of a topic.
#include "platform/help.h"

#include "platform/system.h"
#include "platform/testing.h"

#include <QFile>
#include <QTextBrowser>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

struct HelpTopic {
    DWORD topic;
    const char* page;
};

const HelpTopic helpTopics[] = {
    {300, "main-window.html"},
    {400, "options.html"},
    {500, "host-information.html"},
    {600, "edit-mode.html"},
};

QTextBrowser* helpBrowser = nullptr;

} // namespace

const char* HelpPageForTopic(DWORD topic) {
    for (const HelpTopic& entry : helpTopics)
        if (entry.topic == topic)
            return entry.page;
    return "index.html";
}

bool WinHelp(HWND owner, const char* file, UINT command, DWORD data) {
    (void)owner;
    (void)file;
    if (command == HELP_QUIT) {
        delete helpBrowser;
        helpBrowser = nullptr;
        return true;
    }
    char directory[4096];
    if (GetDataDirectory(directory, sizeof directory) == 0)
        return false;
    char helpDirectory[4200];
    std::snprintf(helpDirectory, sizeof helpDirectory, "%s/help", directory);
    const char* page = command == HELP_CONTEXT ? HelpPageForTopic(data) : "index.html";
    char path[4300];
    std::snprintf(path, sizeof path, "%s/%s", helpDirectory, page);
    if (!QFile::exists(QString::fromLocal8Bit(path)))
        return false;
    if (helpBrowser == nullptr) {
        helpBrowser = new QTextBrowser();
        helpBrowser->setWindowTitle(QStringLiteral("Tarnmap Help"));
        helpBrowser->setSearchPaths({QString::fromLocal8Bit(helpDirectory)});
        helpBrowser->setOpenExternalLinks(false);
        helpBrowser->resize(640, 560);
    }
    helpBrowser->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(path)));
    helpBrowser->show();
    helpBrowser->raise();
    return true;
}

bool HelpWindowPage(char* page, unsigned size) {
    if (helpBrowser == nullptr || !helpBrowser->isVisible()) {
        if (size > 0)
            page[0] = '\0';
        return false;
    }
    std::snprintf(page, size, "%s", helpBrowser->source().fileName().toLocal8Bit().constData());
    return true;
}

} // namespace platform
