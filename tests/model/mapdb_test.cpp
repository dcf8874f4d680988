// The map database reader and writer against real files: both layouts, version refusal,
// the field rules of H and N records, capacity, failures, the written bytes, and the title.
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/parents.h"
#include "model/settings.h"
#include "platform/system.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct VersionError {
    platform::HWND owner;
    std::string text;
    std::string caption;
};

// What the reader reported; a null status text is recorded as "<default>".
Strings statusTexts;
std::vector<VersionError> versionErrors;
Strings titles;

void SetMapPath(const std::string& path) {
    std::snprintf(mapPath, sizeof mapPath, "%s", path.c_str());
}

// A host as its H record carries it, a line as its N record does.
std::string Fields(const HostRecord& h) {
    char text[256];
    std::snprintf(text, sizeof text, "%.*s,%.*s,%.*s,%.*s,%d,%d,%u,%u,%u", int(sizeof h.name),
                  h.name, int(sizeof h.address), h.address, int(sizeof h.info1), h.info1,
                  int(sizeof h.info2), h.info2, h.col, h.row, h.flags, h.protocol, h.kind);
    return text;
}
std::string Fields(const LineRecord& l) {
    return std::to_string(l.attr) + "," + std::to_string(l.x1) + "," + std::to_string(l.y1) + "," +
           std::to_string(l.x2) + "," + std::to_string(l.y2);
}
template <typename Record> Strings TableFields(const Record* table, int count) {
    Strings fields;
    for (int index = 0; index < count; ++index)
        fields.push_back(Fields(table[index]));
    return fields;
}
Strings HostFields() {
    return TableFields(hostTable, hostCount);
}
Strings LineFields() {
    return TableFields(lineTable, lineCount);
}

HostRecord MakeHost(const char* name, const char* address, int col, int row) {
    HostRecord host{};
    std::snprintf(host.name, sizeof host.name, "%s", name);
    std::snprintf(host.address, sizeof host.address, "%s", address);
    host.col = col;
    host.row = row;
    return host;
}

std::string LocalStamp(const platform::SYSTEMTIME& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%02u/%02u/%02u %02u:%02u", time.year - 1900, time.month,
                  time.day, time.hour, time.minute);
    return text;
}

class MapDatabaseTest : public testing::Test {
  protected:
    void SetUp() override {
        statusTexts.clear();
        versionErrors.clear();
        titles.clear();
        mapDatabaseReports = {
            [](const char* text) { statusTexts.push_back(text ? text : "<default>"); },
            [](platform::HWND owner, const char* text, const char* caption) {
                versionErrors.push_back({owner, text, caption});
            },
            [](const char* title) { titles.push_back(title); }};
        ClearMap();
        mapBanner[0] = '\0';
        mapVersion = 0;
    }
    void TearDown() override { mapDatabaseReports = {nullptr, nullptr, nullptr}; }

    // Writes `text` as a map file and reads it as the current map.
    int Load(const std::string& name, const std::string& text, platform::HWND owner = 7) {
        std::string path = dir.file(name);
        WriteWholeFile(path, text);
        SetMapPath(path);
        return ReadMapDatabase(owner, path.c_str());
    }

    TempDir dir;
};

} // namespace

TEST_F(MapDatabaseTest, OldLayoutIsConvertedAndSavedInTheCurrentLayout) {
    ASSERT_EQ(1, Load("old.db", "Tc:\\old.db 95/01/02 03:04\r\n"
                                "Bthe old banner\r\n"
                                "Ha,b,c,d,70,100,0\r\n"
                                "He,f,g,h,79,69,1,2,3\r\n"
                                "N12,70,100,145,209\r\n"));
    EXPECT_EQ(0, mapVersion);
    // Pixels: the row is y / 10, the column x / 35 * 2; a missing protocol is 1.
    const Strings hosts = {"a,b,c,d,4,7,0,1,0", "e,f,g,h,2,7,1,2,3"};
    EXPECT_EQ(hosts, HostFields());
    EXPECT_EQ(Strings{"12,4,7,10,14"}, LineFields());

    std::string saved = dir.file("saved.db");
    ASSERT_EQ(1, WriteMapDatabase(saved.c_str()));
    EXPECT_TRUE(Holds(ReadWholeFile(saved), "\r\nBthe old banner\r\nV1\r\nHa,b,c,d,4,7,0,1,0\r\n"
                                            "He,f,g,h,2,7,1,2,3\r\nN12,4,7,10,14\r\n"));
}

// A file that exists but is not read leaves the map untitled: a Save must not write the
// empty tables over it.
TEST_F(MapDatabaseTest, OtherVersionsAreRefusedAndLeaveTheMapUntitled) {
    for (const char* version : {"V2", "Vx"}) {
        SCOPED_TRACE(version);
        SetUp();
        hostCount = 3;
        lineCount = 4;
        std::string text = std::string("Bnewer\r\nHa,b,c,d,1,2,0,1,0\r\nN12,1,2,3,4\r\n") +
                           version + "\r\nHe,f,g,h,1,2,0,1,0\r\n";
        EXPECT_EQ(0, Load("newer.db", text, 4242));
        ASSERT_EQ(1u, versionErrors.size());
        EXPECT_EQ(4242u, versionErrors[0].owner);
        EXPECT_EQ("Can't read this database!  Get a newer version of Tarnmap!",
                  versionErrors[0].text);
        EXPECT_EQ("Version error", versionErrors[0].caption);
        ASSERT_FALSE(statusTexts.empty());
        EXPECT_EQ("Reading database.", statusTexts.front());
        EXPECT_EQ("Database read error.", statusTexts.back());
        EXPECT_EQ(0, hostCount);
        EXPECT_EQ(0, lineCount);
        EXPECT_STREQ("untitled.db", mapPath);
        EXPECT_EQ(Strings{"untitled"}, titles);
        titles.clear();
    }

    // With nothing to report to, the refusal is still a refusal.
    mapDatabaseReports = {nullptr, nullptr, nullptr};
    EXPECT_EQ(0, Load("quiet.db", "V3\r\n"));
}

TEST_F(MapDatabaseTest, CurrentLayoutFieldRules) {
    const std::string text = "Tsomewhere 126/01/02 03:04\r\n"
                             "Bfirst banner\r\n"
                             "Bsecond banner\r\n"
                             "V1\r\n"
                             "\r\n"
                             "# a comment line\r\n"
                             "Hfull,10.0.0.1,one,two,5,6,1,2,9\r\n"
                             "Hnoproto,addr,,,7,8,2\r\n"
                             "Hemptyproto,addr,x,y,1,1,0,\r\n"
                             "Hnokind,addr,x,y,1,1,0,3\r\n"
                             "Hemptykind,addr,x,y,1,1,0,3,\r\n"
                             "Hsigned,addr,x,y, +12,\t-1,-1, 2 ,4294967297\r\n"
                             "Hdigits,addr,x,y,3abc,x4,,,\r\n"
                             "Hshort,only\r\n"
                             "H\r\n"
                             "N12,1,2,3\r\n"
                             "N7,10,11,12,13\r\n"
                             "N8,1,2,3,\r\n"
                             "N9,1,2,3,4,5,6\r\n"
                             "N\r\n";
    ASSERT_EQ(1, Load("current.db", text));
    EXPECT_EQ(1, mapVersion);
    EXPECT_STREQ("second banner", mapBanner);
    const Strings hosts = {
        "full,10.0.0.1,one,two,5,6,1,2,9",      // a kind past the list is kept as read
        "noproto,addr,,,7,8,2,1,0",             // protocol absent: 1
        "emptyproto,addr,x,y,1,1,0,1,0",        // nothing after the comma: absent
        "nokind,addr,x,y,1,1,0,3,0",            //
        "emptykind,addr,x,y,1,1,0,3,0",         //
        "signed,addr,x,y,12,-1,4294967295,2,1", // 2^32 + 1 wraps
        "digits,addr,x,y,3,0,0,0,0",            // something followed the comma: an empty field
        "short,only,,,0,0,0,1,0",
        ",,,,0,0,0,1,0",
    };
    EXPECT_EQ(hosts, HostFields());
    EXPECT_STREQ("10.0.0.1", hostTable[0].resolvedAddr);
    // "N12,1,2,3" has four numbers and is overwritten by the next record.
    const Strings lines = {"7,10,11,12,13", "8,1,2,3,0", "9,1,2,3,4"};
    EXPECT_EQ(lines, LineFields());
    EXPECT_EQ((Strings{"Reading database.", "<default>"}), statusTexts);
    EXPECT_EQ(Strings{"current"}, titles);
    EXPECT_TRUE(versionErrors.empty());

    // The same file with bare LF line ends reads to the same tables.
    std::string lfOnly = text;
    for (std::size_t at; (at = lfOnly.find("\r\n")) != std::string::npos;)
        lfOnly.erase(at, 1);
    ASSERT_EQ(1, Load("lf.db", lfOnly));
    EXPECT_EQ(hosts, HostFields());
    EXPECT_EQ(lines, LineFields());
    EXPECT_STREQ("second banner", mapBanner);

    // A file without a B record keeps the banner; a file without a final line end
    // still gives its last record.
    ASSERT_EQ(1, Load("nob.db", "V1\nHlast,a,b,c,1,2,0,1,0"));
    EXPECT_STREQ("second banner", mapBanner);
    EXPECT_EQ(Strings{"last,a,b,c,1,2,0,1,0"}, HostFields());
}

// PARENT names the first host of its name; one that names none or would close a loop is
// ignored, each said once.
TEST_F(MapDatabaseTest, ParentsAreReadAtLoadWithoutLoopsOrUnknownNames) {
    static std::vector<std::string> ignored;
    ignored.clear();
    mapDatabaseReports.parentIgnored = [](const char* text) { ignored.push_back(text); };
    WriteWholeFile(dir.file("family.INI"),
                   "[a]\r\nPARENT=c\r\n[b]\r\nPARENT=a\r\n[c]\r\nPARENT=b\r\n"
                   "[d]\r\nPARENT=a\r\n[e]\r\nPARENT=ghost\r\n");
    ASSERT_EQ(1, Load("family.db", "V1\r\nHa,1\r\nHb,2\r\nHc,3\r\nHd,4\r\nHa,5\r\nHe,6\r\n"));
    ASSERT_EQ(hostCount, 6);
    std::vector<int> parents;
    for (int i = 0; i < hostCount; ++i)
        parents.push_back(HostParent(hostTable[i]));
    EXPECT_EQ(parents, (std::vector<int>{2, 0, -1, 0, 2, -1}));
    EXPECT_EQ(ignored,
              (std::vector<std::string>{"c: PARENT=b makes a loop (c -> b -> a -> c), ignored",
                                        "e: PARENT=ghost names no host, ignored"}));
    mapDatabaseReports.parentIgnored = nullptr;
}

TEST_F(MapDatabaseTest, LineEndsAndLongLines) {
    const std::string a61(ADDRESS_TEXT_LENGTH, 'a');
    // Anything read as a further record from the middle of these lines would add a host
    // or a line, or change the version.
    std::string banner = std::string(97, 'b') + "Hghost,1,2,3,4,5,6" + std::string(185, 'c');
    std::string longLine = "Z" + std::string(97, 'z') + "N1,2,3,4,5" + std::string(200, 'z');
    std::string text = "V1\r\nB" + banner + "\r\n" + longLine + "\r\nH" + std::string(20, 'n') +
                       "," + a61 + "XXXX," + std::string(25, 'i') + std::string(15, 'J') + "," +
                       std::string(200, 'k') + ",11,12,1,2,3\r\nV1" + std::string(96, ' ') +
                       "V2\r\n";
    ASSERT_EQ(1, Load("long.db", text));
    EXPECT_EQ(1, mapVersion);
    EXPECT_EQ(Strings{std::string(16, 'n') + "," + a61 + "," + std::string(25, 'i') + "," +
                      std::string(25, 'k') + ",11,12,1,2,3"},
              HostFields());
    EXPECT_EQ(a61, hostTable[0].resolvedAddr);
    EXPECT_EQ(0, lineCount);
    EXPECT_EQ(banner.substr(0, 255), mapBanner);

    // A lone CR ends a line as CR LF and LF do, in any mixture.
    ASSERT_EQ(1, Load("mixed.db", "Bfirst\rV1\rHa,1.1.1.1\r\nHb,2.2.2.2\n\rHc,3.3.3.3\r"));
    EXPECT_EQ((Strings{"a,1.1.1.1,,,0,0,0,1,0", "b,2.2.2.2,,,0,0,0,1,0", "c,3.3.3.3,,,0,0,0,1,0"}),
              HostFields());
    EXPECT_STREQ("first", mapBanner);

    // A line longer than any record is cut (what follows the cut is lost like the excess
    // of a field).
    ASSERT_EQ(1, Load("wide.db", "V1\r\nHwide,10.0.0.1,," + std::string(900 * 1024, 'w') +
                                     ",7,8\r\nHnext,,,,7,8\r\n"));
    EXPECT_EQ(
        (Strings{"wide,10.0.0.1,," + std::string(25, 'w') + ",0,0,0,1,0", "next,,,,7,8,0,1,0"}),
        HostFields());
}

// Full tables with every field at its longest are written and read back whole; records
// beyond the tables are ignored.
TEST_F(MapDatabaseTest, FullTablesSurviveARoundTrip) {
    std::snprintf(mapBanner, sizeof mapBanner, "banner, with a comma\tand a tab");
    hostCount = MAX_HOSTS;
    for (int index = 0; index < MAX_HOSTS; ++index) {
        HostRecord& host = hostTable[index];
        host = HostRecord{};
        std::snprintf(host.name, sizeof host.name, "%016d", index);
        std::snprintf(host.address, sizeof host.address, "host-%021d", index);
        std::snprintf(host.info1, sizeof host.info1, "first info line %09d", index);
        std::snprintf(host.info2, sizeof host.info2, "second info %013d", index);
        std::snprintf(host.resolvedAddr, sizeof host.resolvedAddr, "10.1.%d.%d", index / 256,
                      index % 256);
        host.col = index % GRID_COLUMNS;
        host.row = index == 7 ? -3 : index % GRID_ROWS;
        host.flags = static_cast<unsigned>(index % 4);
        host.protocol = static_cast<unsigned>(index % 4);
        host.kind = index == 9 ? 0xFFFFFFFFu : static_cast<unsigned>(index % HOST_KIND_COUNT);
        host.status = host.missed = host.lost = host.quiet = host.rtt = 11010;
        host.drawWidth = host.drawHeight = 30;
    }
    lineCount = MAX_LINES;
    for (int index = 0; index < lineCount; ++index)
        lineTable[index] = {index == 0 ? -12 : 12, index % 36, index % 35, 35 - index % 36,
                            index / 10};
    const Strings hosts = HostFields();
    const Strings lines = LineFields();

    std::string path = dir.file("round.db");
    SetMapPath(path);
    ASSERT_EQ(1, WriteMapDatabase(path.c_str()));
    ClearMap();
    std::memset(hostTable, 0x55, sizeof hostTable);
    mapBanner[0] = '\0';
    ASSERT_EQ(1, ReadMapDatabase(0, path.c_str()));

    EXPECT_STREQ("banner, with a comma\tand a tab", mapBanner);
    EXPECT_EQ(hosts, HostFields());
    EXPECT_EQ(lines, LineFields());
    // The monitoring fields start afresh.
    const HostRecord& last = hostTable[MAX_HOSTS - 1];
    EXPECT_STREQ(last.address, last.resolvedAddr);
    EXPECT_EQ((std::vector<long>{last.status, last.missed, last.lost, last.quiet, last.rtt,
                                 last.drawWidth, last.drawHeight}),
              (std::vector<long>{0, 2, 0, 0, 0, 0, 0}));

    WriteWholeFile(path, ReadWholeFile(path) + "Hextra,1,,,1,1,0,1,0\r\nN7,1,2,3,4\r\n");
    ASSERT_EQ(1, ReadMapDatabase(0, path.c_str()));
    EXPECT_EQ(hosts, HostFields());
    EXPECT_EQ(lines, LineFields());
}

TEST_F(MapDatabaseTest, WrittenFileHasTheExactRecords) {
    std::snprintf(mapBanner, sizeof mapBanner, "Office network");
    hostTable[0] = MakeHost("gateway", "10.0.0.1", 3, 4);
    std::snprintf(hostTable[0].info1, sizeof hostTable[0].info1, "first");
    std::snprintf(hostTable[0].info2, sizeof hostTable[0].info2, "second");
    hostTable[0].protocol = 1;
    hostTable[0].kind = KIND_ROUTER;
    std::snprintf(hostTable[0].resolvedAddr, sizeof hostTable[0].resolvedAddr, "10.9.9.9");
    hostTable[1] = MakeHost("printer", "lp.example", 35, 34);
    hostTable[1].flags = HOST_NOT_MONITORED | HOST_PROTOCOL_NONE;
    hostTable[1].kind = KIND_PRINTER;
    hostCount = 2;
    lineTable[0] = {12, 1, 2, 3, 4};
    lineCount = 1;

    std::string path = dir.file("exact.db");
    platform::SYSTEMTIME before{};
    platform::SYSTEMTIME after{};
    platform::GetLocalTime(&before);
    ASSERT_EQ(1, WriteMapDatabase(path.c_str()));
    platform::GetLocalTime(&after);

    std::string records = "\r\nBOffice network\r\n"
                          "V1\r\n"
                          "Hgateway,10.0.0.1,first,second,3,4,0,1,3\r\n"
                          "Hprinter,lp.example,,,35,34,3,0,8\r\n"
                          "N12,1,2,3,4\r\n";
    std::string text = ReadWholeFile(path);
    std::string early = "T" + path + " " + LocalStamp(before) + records;
    std::string late = "T" + path + " " + LocalStamp(after) + records;
    EXPECT_TRUE(text == early || text == late) << text;
    EXPECT_EQ(3u, std::to_string(before.year - 1900).size()); // years since 1900, as "126"

    // An empty map still has its three header records; the file is replaced, not appended,
    // and no temporary file stays behind.
    ClearMap();
    mapBanner[0] = '\0';
    ASSERT_EQ(1, WriteMapDatabase(path.c_str()));
    text = ReadWholeFile(path);
    std::size_t stampEnd = text.find("\r\n");
    ASSERT_NE(std::string::npos, stampEnd);
    EXPECT_EQ("B\r\nV1\r\n", text.substr(stampEnd + 2));
    EXPECT_EQ(1, EntriesIn(dir.path()));
}

TEST_F(MapDatabaseTest, AnUnreadableFileGivesAnEmptyMapUnderItsOwnName) {
    hostCount = 5;
    lineCount = 6;
    std::string path = dir.file("absent.db");
    SetMapPath(path);
    EXPECT_EQ(1, ReadMapDatabase(3, path.c_str()));
    EXPECT_EQ(0, hostCount);
    EXPECT_EQ(0, lineCount);
    EXPECT_EQ(path, mapPath);
    EXPECT_EQ(Strings{"Database read error."}, statusTexts);
    EXPECT_EQ(Strings{"absent"}, titles);
    EXPECT_TRUE(versionErrors.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
    // What is added to this map belongs to this map's settings, not the previous map's.
    EXPECT_EQ(dir.file("absent.INI"), settingsFiles.mapSettings);

    // A directory or a FIFO (opened without waiting for a writer) is refused with its name,
    // a file larger than any map is not read at all, and a file the system does not open (no
    // permission, a loop of links) is told with the reason.
    std::string folder = dir.file("folder.db");
    std::filesystem::create_directory(folder);
    std::string fifo = dir.file("fifo.db");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    std::string huge = dir.file("huge.db");
    WriteWholeFile(huge, "V1\r\nHhuge\r\nB" + std::string(1024 * 1024, 'x'));
    std::string loop = dir.file("loop.db");
    std::filesystem::create_symlink(loop, loop);
    const std::string notRegular = " is not a regular file; it was not read.";
    for (const auto& [refused, why] : std::vector<std::pair<std::string, std::string>>{
             {folder, notRegular},
             {fifo, notRegular},
             {huge, " is larger than 1024 KiB, more than any map needs; it was not read."},
             {loop, " cannot be read: Too many levels of symbolic links."}}) {
        SetUp();
        hostCount = 2;
        SetMapPath(refused);
        EXPECT_EQ(0, ReadMapDatabase(3, refused.c_str()));
        EXPECT_EQ(0, hostCount);
        EXPECT_STREQ("untitled.db", mapPath);
        EXPECT_EQ(Strings{"Database read error."}, statusTexts);
        ASSERT_EQ(1u, versionErrors.size());
        EXPECT_EQ("The map " + refused + why, versionErrors[0].text);
    }
}

TEST_F(MapDatabaseTest, TitleIsTheFileNameWithoutDirectoryAndExtension) {
    char title[MAP_TITLE_LENGTH + 1];
    struct Case {
        std::string path;
        unsigned number;
        const char* text;
        std::string title;
    };
    const Case cases[] = {
        {"/home/user/maps/net.office.db", 0, nullptr, "net.office"},
        {"net.office.db", 0, nullptr, "net.office"},
        {"C:\\maps\\branch.db", 0, nullptr, "branch"},
        {"/srv/a.b/plain", 0, nullptr, "plain"},
        {"/x/untitled.db", 7, "(polling)", "untitled 7 (polling)"},
        {"/x/", 0, nullptr, ""},
        // Cut to the buffer, whichever part is too long.
        {"/maps/" + std::string(100, 'm') + ".db", 12, "(polling)",
         std::string(MAP_TITLE_LENGTH, 'm')},
        {std::string(76, 'n') + ".db", 123, "(polling)", std::string(76, 'n') + " 12"},
    };
    for (const Case& c : cases) {
        SetMapPath(c.path);
        ComposeMapTitle(title, sizeof title, c.number, c.text);
        EXPECT_EQ(c.title, title) << c.path;
    }
    char small[6];
    SetMapPath("office.db");
    ComposeMapTitle(small, sizeof small, 0, nullptr);
    EXPECT_STREQ("offic", small);

    SetMapTitle(3, "(polling)");
    EXPECT_EQ(Strings{"office 3 (polling)"}, titles);
    mapDatabaseReports.windowTitle = nullptr;
    SetMapTitle(0, nullptr); // nobody to tell: nothing happens
}
