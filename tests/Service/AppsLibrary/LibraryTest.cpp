#include "App/Paths.h"
#include "App/Settings.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <thread>

namespace {

const QByteArray Bom = QByteArrayLiteral("\xEF\xBB\xBF");

QByteArray Fixture(const char* Name) {
    return ReadFile(QStringLiteral(TARVENOX_FIXTURES_DIR "/library/") + QString::fromUtf8(Name));
}

// Names in Dir beginning with Prefix, other than Prefix itself.
QStringList Siblings(const QString& Dir, const QString& Prefix) {
    QStringList names = QDir(Dir).entryList({Prefix + "*"}, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System);
    names.removeAll(Prefix);
    return names;
}

std::unique_ptr<TAppLibraryItem> Game(const char* Key, TLibraryItemState State = lisNone) {
    auto item = std::make_unique<TAppLibraryItem>();
    item->PublicKey = QString::fromUtf8(Key);
    item->Name = QStringLiteral("Name ") + item->PublicKey;
    if (State != lisNone) {
        item->Path = MakeTempDir(QStringLiteral("game"));
        item->SetState(State);
    }
    return item;
}

TEST(LibraryTest, EmptyLibraryFile) {
    const QString file = MakeTempDir(QStringLiteral("lib")) + "apps.json";
    TAppsLibrary library(file);
    EXPECT_EQ(library.Count(), 0);
    EXPECT_FALSE(QFile::exists(file)); // nothing is written until the first save
    library.SaveToFile();
    EXPECT_EQ(ReadFile(file), Bom + "[]\r\n");
    EXPECT_TRUE(library.LoadError().isEmpty());
}

TEST(LibraryTest, RoundTripKeepsOrderValuesAndExactBytes) {
    const QString dir = MakeTempDir(QStringLiteral("lib"));
    TAppsLibrary library(dir + "apps.json");
    auto arcade = std::make_unique<TAppLibraryItem>();
    arcade->PublicKey = QStringLiteral("arcade");
    arcade->Name = QStringLiteral("Аркада \"Ретро\"");
    arcade->Path = QStringLiteral("C:\\Games\\arcade\\");
    arcade->SetState(lisQueued);
    arcade->Description = QStringLiteral("tab\there");
    arcade->Version = QStringLiteral("1.2.0");
    auto dos = std::make_unique<TAppLibraryItem>();
    dos->PublicKey = QStringLiteral("dosgame");
    dos->Name = QStringLiteral("Dos");
    dos->Path = QStringLiteral("/home/u/Games/dosgame/");
    dos->SetState(lisInstalled);
    EXPECT_EQ(library.Add(std::move(arcade)), 0);
    EXPECT_EQ(library.Add(std::move(dos)), 1);
    library.SaveToFile();

    const QByteArray bytes = ReadFile(dir + "apps.json");
    EXPECT_EQ(bytes, Fixture("two-items.json"));
    EXPECT_EQ(bytes.count("},{"), 1);
    EXPECT_FALSE(bytes.contains(",]"));

    TAppsLibrary loaded(dir + "apps.json");
    ASSERT_EQ(loaded.Count(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(ObjectToJsonText(loaded.Items(i)), ObjectToJsonText(library.Items(i)));
    EXPECT_EQ(loaded.Items(0)->Name, "Аркада \"Ретро\"");
    EXPECT_EQ(loaded.Items(0)->State(), lisQueued);
    EXPECT_EQ(loaded.Items(1)->State(), lisInstalled);
    ASSERT_NE(loaded.Items(1)->AppConfig(), nullptr); // installed games have their configuration
    EXPECT_EQ(loaded.Items(1)->AppConfig()->Path, "/home/u/Games/dosgame/");
    EXPECT_TRUE(loaded.LoadError().isEmpty());
    EXPECT_TRUE(loaded.DamagedFileName().isEmpty());
}

// Texts that load whole: the lenient rules of the reader.
TEST(LibraryTest, LenientReading) {
    const struct {
        const char* Name;
        QByteArray Text;
        QStringList Json; // each item as it is written back
    } cases[] = {
        {"names in any letter case, unknown members ignored",
         Bom + R"([{"_KEY":"a","_Name":"A","colour":"red","_state":"queued"}])",
         {R"({"_key":"a","_name":"A","_path":"","_state":"queued","_description":"","_version":"0.0.0.0"})"}},
        {"null is empty text, numbers and booleans their text",
         Bom + R"([{"_key":"b","_name":null,"_description":true,"_version":3.25,"_path":7}])",
         {R"({"_key":"b","_name":"","_path":"7","_state":"","_description":"True","_version":"3.25"})"}},
        {"no byte-order mark, blanks and line breaks",
         "[\r\n  { \"_key\" : \"c\" ,\n \"_name\":\"Ц\" }\r\n]\r\n",
         {R"({"_key":"c","_name":"Ц","_path":"","_state":"","_description":"","_version":"0.0.0.0"})"}},
        {"members applied in file order", Bom + R"([{"_key":"d","_path":"/x/","_path":"/y/","_key":"e"}])",
         {R"({"_key":"e","_name":"","_path":"/y/","_state":"","_description":"","_version":"0.0.0.0"})"}},
        {"an empty file", "", {}},
        {"an empty array", "[]", {}},
    };
    for (const auto& c : cases) {
        const QString file = MakeTempDir(QStringLiteral("lenient")) + "apps.json";
        WriteFile(file, c.Text);
        TAppsLibrary library(file);
        QStringList json;
        for (const auto& item : library)
            json.append(ObjectToJsonText(item.get()));
        EXPECT_EQ(json, c.Json) << c.Name;
        EXPECT_TRUE(library.LoadError().isEmpty()) << c.Name;
        library.SaveToFile();
        EXPECT_TRUE(Siblings(ExtractDirPart(file), "apps.json").isEmpty()) << c.Name;
    }
}

// Files the launcher cannot take whole: it starts with what the lenient rules allow, the file stays as
// it is, and the first save keeps its bytes beside it before writing the library anew.
TEST(LibraryTest, DamagedFilesAreKeptAside) {
    const struct {
        const char* Name;
        QByteArray Text;
        QStringList Keys; // what loads
        const char* Error;
    } cases[] = {
        {"truncated after an item", Bom + R"([{"_key":"a"},{"_key":"b"},{"_key":"c","_na)", {"a", "b"},
         "not one complete JSON array"},
        {"comma after the last item", Bom + R"([{"_key":"a"},{"_key":"b"},])", {"a", "b"},
         "not one complete JSON array"},
        {"not JSON", "this is not a library", {}, "not one complete JSON array"},
        {"an object", R"({"_key":"a"})", {}, "not one complete JSON array"},
        {"unquoted names", R"([{_key:"u"}])", {"u"}, "not one complete JSON array"},
        {"an array inside", R"([{"_key":"a"},[1]])", {}, "Not a list of items"},
        {"a scalar item", R"([{"_key":"a"},"b"])", {}, "JSONVariantData.Data(258<>JSONVariant)"},
        {"a duplicate key", R"([{"_key":"a"},{"_key":"b"},{"_key":"a"}])", {}, "Duplicate Item: a"},
        {"installed without a path", R"([{"_key":"a"},{"_key":"b","_state":"installed"}])", {},
         "Set Path before setting state to installed"},
        {"state before path", R"([{"_key":"b","_state":"installed","_path":"/g/b/"}])", {},
         "Set Path before setting state to installed"},
    };
    for (const auto& c : cases) {
        const QString dir = MakeTempDir(QStringLiteral("damaged"));
        const QString file = dir + "apps.json";
        WriteFile(file, c.Text);
        TAppsLibrary library(file);
        QStringList keys;
        for (const auto& item : library)
            keys.append(item->PublicKey);
        EXPECT_EQ(keys, c.Keys) << c.Name;
        EXPECT_TRUE(library.LoadError().contains(QString::fromUtf8(c.Error))) << c.Name << ": "
                                                                              << library.LoadError().toStdString();
        EXPECT_EQ(library.DamagedFileName(), file) << c.Name;
        EXPECT_EQ(ReadFile(file), c.Text) << c.Name; // loading changes nothing

        library.Add(Game("new"));
        library.SaveToFile();
        const QStringList kept = Siblings(dir, "apps.json");
        ASSERT_EQ(kept.size(), 1) << c.Name;
        EXPECT_TRUE(kept[0].startsWith("apps.json.bad-")) << c.Name;
        EXPECT_EQ(ReadFile(dir + kept[0]), c.Text) << c.Name;
        TAppsLibrary reloaded(file);
        EXPECT_EQ(reloaded.Count(), c.Keys.size() + 1) << c.Name;
        EXPECT_TRUE(reloaded.LoadError().isEmpty()) << c.Name;

        // Kept once: later saves replace the new file as usual.
        library.SaveToFile();
        EXPECT_EQ(Siblings(dir, "apps.json").size(), 1) << c.Name;
    }
}

TEST(LibraryTest, UnreadableFileIsMovedAsideAtTheFirstSave) {
    const QString dir = MakeTempDir(QStringLiteral("unreadable"));
    const QString file = dir + "apps.json";
    QDir().mkpath(file); // a folder where the file should be
    WriteFile(file + "/inside", "mine");
    TAppsLibrary library(file);
    EXPECT_EQ(library.Count(), 0);
    EXPECT_FALSE(library.LoadError().isEmpty());
    library.Add(Game("a"));
    library.SaveToFile();
    const QStringList kept = Siblings(dir, "apps.json");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(ReadFile(dir + kept[0] + "/inside"), "mine");
    EXPECT_EQ(TAppsLibrary(file).Count(), 1);
}

TEST(LibraryTest, SaveReplacesTheFileWhole) {
    const QString dir = MakeTempDir(QStringLiteral("replace"));
    const QString file = dir + "apps.json";
    TAppsLibrary library(file);
    library.Add(Game("a"));
    library.SaveToFile();
    const QByteArray before = ReadFile(file);

    // A reader that opened the old file keeps seeing it whole: the new file arrives under a new name and
    // is renamed over the old one, never written into it.
    QFile reader(file);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    library.Add(Game("b"));
    library.SaveToFile();
    EXPECT_EQ(reader.readAll(), before);
    EXPECT_EQ(TAppsLibrary(file).Count(), 2);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"apps.json"});
}

TEST(LibraryTest, SaveToNewFileNameMovesLaterSaves) {
    const QString dir = MakeTempDir(QStringLiteral("move"));
    TAppsLibrary library(dir + "old/apps.json");
    library.Add(Game("a"));
    library.SaveToFile();
    library.SaveToFile(dir + "new/deeper/apps.json"); // missing folders are made
    EXPECT_EQ(library.FileName(), dir + "new/deeper/apps.json");
    library.Add(Game("b"));
    library.SaveToFile();
    EXPECT_EQ(TAppsLibrary(dir + "old/apps.json").Count(), 1);
    EXPECT_EQ(TAppsLibrary(dir + "new/deeper/apps.json").Count(), 2);
}

TEST(LibraryTest, SaveErrorsReachTheCaller) {
    const QString dir = MakeTempDir(QStringLiteral("saveerror"));
    WriteFile(dir + "file", "x");
    TAppsLibrary library(dir + "file/apps.json"); // its folder is a file
    library.Add(Game("a"));
    EXPECT_THROW(library.SaveToFile(), EInOutError);
    EXPECT_EQ(library.Count(), 1);
    EXPECT_EQ(ReadFile(dir + "file"), "x");

    TAppsLibrary catalog{QString()};
    EXPECT_THROW(catalog.SaveToFile(), EInOutError);
}

TEST(LibraryTest, AddRefusesDuplicateKeys) {
    TAppsLibrary library{QString()};
    library.Add(Game("a"));
    auto again = Game("a");
    try {
        library.Add(std::move(again));
        FAIL() << "duplicate added";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Duplicate Item: a");
    }
    ASSERT_NE(again, nullptr); // still the caller's
    EXPECT_EQ(library.Count(), 1);
    library.Add(Game("A")); // keys are case-sensitive
    EXPECT_EQ(library.Count(), 2);
    EXPECT_TRUE(library.HasItem("a"));
    EXPECT_FALSE(library.HasItem("b"));
    EXPECT_EQ(library.FindItemByKey("A"), library.Items(1));
    EXPECT_EQ(library.FindItemByKey("b"), nullptr);
}

TEST(LibraryTest, FindByState) {
    TAppsLibrary library{QString()};
    library.Add(Game("installed", lisInstalled));
    library.Add(Game("queued", lisQueued));
    library.Add(Game("plain"));
    library.Add(Game("queued2", lisQueued));

    QList<TAppLibraryItem*> queued = library.FindItemsByState({lisQueued});
    ASSERT_EQ(queued.size(), 2);
    EXPECT_EQ(queued[0]->PublicKey, "queued");
    EXPECT_EQ(queued[1]->PublicKey, "queued2");
    EXPECT_EQ(library.FindItemsByState({lisNone, lisInstalled}).size(), 2);
    EXPECT_TRUE(library.FindItemsByState({}).isEmpty());
    queued.clear();
    EXPECT_EQ(library.Count(), 4);
    EXPECT_TRUE(library.isItemInstalled("installed"));
    EXPECT_FALSE(library.isItemInstalled("queued"));
    EXPECT_FALSE(library.isItemInstalled("nothing"));
    const QList<TAppLibraryItem*> all = library.FindAll();
    ASSERT_EQ(all.size(), 4);
    EXPECT_EQ(all[2]->PublicKey, "plain");
}

TEST(LibraryTest, WorkersReachTheLibraryThroughTheMainThread) {
    TAppsLibrary library{QString()};
    std::atomic<bool> done{false};
    int index = -1;
    int queued = -1;
    QString error;
    std::thread worker([&] {
        index = library.Add(Game("a"));
        library.Add(Game("b", lisQueued));
        queued = int(library.FindItemsByState({lisQueued}).size());
        try {
            library.Add(Game("a"));
        } catch (const Exception& e) {
            error = e.Message();
        }
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(index, 0);
    EXPECT_EQ(queued, 1);
    EXPECT_EQ(error, "Duplicate Item: a");
    EXPECT_EQ(library.FindAll().size(), 2);
}

TEST(LibraryTest, ComponentsLibraryFile) {
    const QString dir = MakeTempDir(QStringLiteral("components"));
    WriteFile(dir + "components.json",
              Bom + R"([{"_key":"dosbox","_state":"installed","_version":"0.74"},{"_key":"own","_path":"/opt/own/"}])");
    TComponentsLibrary library(dir + "components.json");
    ASSERT_EQ(library.Count(), 2);
    EXPECT_EQ(library.Items(0)->Path, ComponentsPath() + "dosbox/");
    EXPECT_TRUE(library.isItemInstalled("dosbox"));
    EXPECT_EQ(library.Items(0)->Version, "0.74");
    EXPECT_EQ(library.Items(1)->Path, "/opt/own/");
}

TEST(LibraryTest, ProcessWideLibrariesStartWhateverTheFiles) {
    const QString games = MakeTempDir(QStringLiteral("games"));
    const QString oldPath = Lib::GetPath();
    Lib::SetPath(games);
    WriteFile(games + "apps.json", Bom + R"([{"_key":"a","_path":")" + games.toUtf8() +
                                       R"(a/","_state":"installed"},{"_key":"q","_state":"queued"}])");
    WriteFile(ComponentsPath() + "components.json", R"([{"_key":"dosbox"},{"_key":"dosbox"}])");
    InitLibraries();
    EXPECT_EQ(AppsLibrary().Count(), 2);
    EXPECT_TRUE(AppsLibrary().isItemInstalled("a"));
    EXPECT_EQ(AppsLibrary().FileName(), games + "apps.json");
    EXPECT_EQ(ComponentsLibrary().Count(), 0); // the duplicate stops the load, not the start
    EXPECT_EQ(ComponentsLibrary().LoadError(), "Duplicate Item: dosbox");
    EXPECT_EQ(ComponentsLibrary().FileName(), ComponentsPath() + "components.json");
    DoneLibraries();
    EXPECT_THROW(AppsLibrary(), EAssertionFailed);
    QFile::remove(ComponentsPath() + "components.json");
    Lib::SetPath(oldPath);
}

// ---- catalog ----------------------------------------------------------------------------------------

TEST(CatalogConverterTest, AppResourcesBecomeUnsavedGames) {
    const TJsonValue doc = ParseJson(QStringLiteral(R"({"data":[
        {"type":"app","id":"1","attributes":{"key":"arcade","title":"Аркада","cover_url":"http://127.0.0.1/a.png",
         "description":"Fun","locked":true,"extra":1}},
        {"type":"app","id":"2","attributes":{"key":"quest"}},
        {"type":"app","attributes":{"key":"arcade","title":"again","description":null}}]})"));
    const auto list = TJsonLibraryItemsListConverter::CreateListFromJson(doc["data"]);
    ASSERT_EQ(list->Count(), 3);
    const TAppLibraryItem* a = list->Items(0);
    EXPECT_EQ(a->PublicKey, "arcade");
    EXPECT_EQ(a->Name, "Аркада");
    EXPECT_EQ(a->CoverUrl, "http://127.0.0.1/a.png");
    EXPECT_EQ(a->Description, "Fun");
    EXPECT_TRUE(a->Locked);
    EXPECT_EQ(a->State(), lisNone);
    EXPECT_EQ(a->Version, "0.0.0.0");
    EXPECT_EQ(a->Path, "");
    const TAppLibraryItem* q = list->Items(1);
    EXPECT_EQ(q->Name, "");
    EXPECT_EQ(q->CoverUrl, "");
    EXPECT_FALSE(q->Locked);
    EXPECT_EQ(list->Items(2)->Name, "again"); // no duplicate check in a catalog
    EXPECT_EQ(list->FindItemByKey("arcade"), a);
    EXPECT_TRUE(list->FileName().isEmpty());
    EXPECT_THROW(list->SaveToFile(), EInOutError);
}

TEST(CatalogConverterTest, LockedFlag) {
    const struct {
        const char* Locked;
        bool Expected;
    } cases[] = {
        {"true", true},    {"false", false},   {"\"TRUE\"", true}, {"\"False\"", false}, {"\"0\"", false},
        {"\"1\"", true},   {"0", false},       {"2", true},        {"null", false},      {"\"yes\"", false},
        {"[1]", false},
    };
    for (const auto& c : cases) {
        const TJsonValue doc = ParseJson(
            QStringLiteral(R"([{"type":"app","attributes":{"key":"k","locked":%1}}])").arg(QString::fromUtf8(c.Locked)));
        const auto list = TJsonLibraryItemsListConverter::CreateListFromJson(doc);
        ASSERT_EQ(list->Count(), 1) << c.Locked;
        EXPECT_EQ(list->Items(0)->Locked, c.Expected) << c.Locked;
    }
    const auto missing = TJsonLibraryItemsListConverter::CreateListFromJson(
        ParseJson(R"([{"type":"app","attributes":{"key":"k"}}])"));
    EXPECT_FALSE(missing->Items(0)->Locked);
}

TEST(CatalogConverterTest, OtherTypesFailTheWholeList) {
    const struct {
        const char* Json;
        const char* Message;
    } cases[] = {
        {R"([{"type":"app","attributes":{"key":"a"}},{"type":"app-page","attributes":{}}])", "Invalid data type:app-page"},
        {R"([{"type":"App","attributes":{}}])", "Invalid data type:App"},
        {R"([{"attributes":{"key":"a"}}])", "Invalid data type:"},
        {R"([{"type":null}])", "Invalid data type:"},
    };
    for (const auto& c : cases) {
        try {
            TJsonLibraryItemsListConverter::CreateListFromJson(ParseJson(QString::fromUtf8(c.Json)));
            ADD_FAILURE() << c.Json;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Json;
        }
    }
}

TEST(CatalogConverterTest, NoArrayGivesAnEmptyList) {
    for (const char* json : {"", "{}", "5", "\"app\"", "[]"})
        EXPECT_EQ(TJsonLibraryItemsListConverter::CreateListFromJson(ParseJson(json))->Count(), 0) << json;
    EXPECT_EQ(TJsonLibraryItemsListConverter::CreateListFromJson(ParseJson("{}")["data"])->Count(), 0);
}

} // namespace
