// Files_ and MsgBox_ as tables: each row a setup in a fresh folder, a call, what it gave and the folder after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "DatabaseLocks.h"
#include "Files_testing.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "ScriptedUi.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

struct Folder : TestSupport::TempDir {  // a row's folder, and another program's locks on its files
  std::vector<int> held;  // closed when the row ends
  ~Folder() { for (const int fd : held) ::close(fd); }
  void Put(const std::string& name, const std::string& content = "x", int mode = 0644) const {
    fs::create_directories(fs::path(File(name)).parent_path()), TestSupport::WriteFile(File(name), content), fs::permissions(File(name), fs::perms(mode));
  }
  void Link(const std::string& target, const std::string& name) const { fs::create_symlink(File(target), File(name)); }
  // Whether a lock is taken: on `name` whole when `at` < 0, else a read lock on byte `at` (a flock on ".") kept.
  bool Lock(const std::string& name, off_t at) {
    const int fd = ::open(File(name).c_str(), name == "." ? O_RDONLY : at < 0 ? O_RDWR : O_RDWR | O_CREAT, 0600);
    struct flock range {.l_type = static_cast<short>(at < 0 ? F_WRLCK : F_RDLCK), .l_whence = SEEK_SET, .l_start = std::max<off_t>(at, 0), .l_len = at >= 0, .l_pid = 0};
    const bool got = fd < 0 || (name == "." ? ::flock(fd, LOCK_EX | LOCK_NB) : ::fcntl(fd, F_OFD_SETLK, &range)) == 0;
    if (at < 0 && fd >= 0) ::close(fd); else held.push_back(fd);
    return got;
  }
  void InUse() {  // a database with a dead writer's journal, WAL and -shm, a live copy's temporary and a dead one's
    for (const char* name : {"Services.mdb-journal", "Services.mdb-wal", "Services.mdb-shm"}) Put(name, "stale");
    Put("new.mdb", "new"), Put("Services.mdb", "old"), Put(".Services.mdb.atv-tmp-dead", "dead");
    Put(".Services.mdb.atv-tmp-live", "live"), Lock(".Services.mdb.atv-tmp-live", off_t{1} << 40);
  }
  std::vector<std::string> Listing() const {  // every entry: "name=content", "link@" or "folder/"
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(Path()))
      names.push_back(fs::relative(e.path(), Path()).string() + (e.is_symlink() ? "@" : e.is_directory() ? "/" : "=" + (e.is_regular_file() ? TestSupport::ReadFile(e.path()) : "?")));
    std::sort(names.begin(), names.end());
    return names;
  }
};

using Call = std::function<std::string(Folder&)>;
struct Row { std::string name; std::function<void(Folder&)> setup; Call call; std::string want; std::vector<std::string> after = {"="}; };

Call Copy(std::string from, std::string to) { return [=](Folder& f) { Files_::StagedCopy(f.File(from), f.File(to), Db::kDatabaseLocks).Place(); return std::string("ok"); }; }
void Fault(int error) { Files_::testing::SetCopyWriteFault([=](std::uint64_t n) { return n >= Files_::testing::CopyChunkSize() ? error : 0; }); }  // after a chunk
Call Remove(std::string path) { return [=](Folder& f) { Files_::RemoveFileChecked(f.File(path), Db::kDatabaseLocks); return std::string("ok"); }; }
Call Parts(std::string path) { return [=](Folder&) { return Files_::LastPathPart(path) + " " + Files_::FolderOfPath(path); }; }
Call Locate(std::string p) { return [=](Folder& f) { return std::to_string(Files_::LocateFile(f.File(p), false)) + std::to_string(Files_::LocateFile(f.File(p), true)); }; }
Call Box(std::function<void()> show) {  // the box `show` shows, as "title|text"
  return [=](Folder&) { show(); const auto& box = static_cast<Platform::ScriptedUi&>(Platform::CurrentUi()).Events().back(); return box.title + "|" + box.text; };
}
Call Read(std::string path) {  // every line (a long one as its length), then the error that ends the reading
  return [=](Folder& f) {
    std::string lines;
    Files_::InputFile file;
    try {
      for (file.Open(f.File(path));; lines += "|") {
        const std::string line = file.ReadLine();
        lines += line.size() > 80 ? "(" + std::to_string(line.size()) + ")" : line;
      }
    } catch (const Platform::RunError& e) { lines += "error " + std::to_string(e.Number()); }
    return lines + (Files_::CloseFile(file) && !file.IsOpen() ? "" : " open");
  };
}
// The folder lock taken twice by this process, and whether another holder takes it then and after.
std::string Lock(Folder& f) {
  const bool held = [&] { const Files_::FolderLock first(f.Path()), again(f.Path()); return !f.Lock(Files_::kFolderLockName, -1); }();
  return std::string(held ? "held" : "shared") + (f.Lock(Files_::kFolderLockName, -1) ? " released" : " kept");
}
const std::string kLong(65535, 'x');

const Row kRows[] = {
    {"a path taken apart at its last separator", {}, Parts("shop/Shop/shop"), "shop shop/Shop", {}},
    {"a path without a separator", {}, Parts("Mailvoro.mdb"), " .", {}},
    {"a file at the root", {}, Parts("/Mailvoro.mdb"), "Mailvoro.mdb /", {}},
    {"a link to a file is located", [](Folder& f) { f.Put("a.jpg"), f.Link("a.jpg", "l.jpg"); }, Locate("l.jpg"), "11"},
    {"a dangling link is not located, with a box when asked", [](Folder& f) { f.Link("gone", "l.jpg"); }, Locate("l.jpg"), "00 box48"},
    {"a folder is not located", {}, Locate("."), "00 box48"},
    {"lines end at CR, LF or CR LF, the last at the end", [](Folder& f) { f.Put("a", "a\r\nb\nc\rd"); }, Read("a"), "a|b|c|d|error 62"},
    {"a CR LF across a chunk's end", [](Folder& f) { f.Put("a", kLong + "\r\nend"); }, Read("a"), "(65535)|end|error 62"},
    {"a line longer than a chunk", [](Folder& f) { f.Put("a", kLong + kLong + "\nend"); }, Read("a"), "(131070)|end|error 62"},
    {"a line over the limit", [](Folder& f) { f.Put("a", std::string(Files_::kMostLineBytes + 2, '9')); }, Read("a"), "error 75"},
    {"a missing input file", {}, Read("no/a.csv"), "error 53"},
    {"a pipe is no input file and never waited on", [](Folder& f) { ::mkfifo(f.File("p").c_str(), 0600); }, Read("p"), "error 75"},
    {"a copy from a missing file", [](Folder& f) { f.Put("shop/a.jpg", "old"); }, Copy("x/a.jpg", "shop/a.jpg"), "error 53"},
    {"a copy into a missing folder", [](Folder& f) { f.Put("a.jpg"); }, Copy("a.jpg", "no/a.jpg"), "error 76"},
    {"a copy over a read-only file, even for root", [](Folder& f) { f.Put("a.jpg", "new"), f.Put("shop/a.jpg", "old", 0440); }, Copy("a.jpg", "shop/a.jpg"), "error 70"},
    {"a copy into a folder that takes no new file", [](Folder& f) { f.Put("a.mdb", "new"), f.Put("p/a.mdb", "old"), fs::permissions(f.File("p"), fs::perms(0555)); }, Copy("a.mdb", "p/a.mdb"), "error 70"},
    {"a copy on a full disk", [](Folder& f) { f.Put("b.mdb", kLong + kLong), f.Put("shop/b.mdb", "old"), Fault(ENOSPC); }, Copy("b.mdb", "shop/b.mdb"), "error 61"},
    {"a copy on a failing device", [](Folder& f) { f.Put("b.mdb", kLong + kLong), f.Put("shop/x"), Fault(EIO); }, Copy("b.mdb", "shop/b.mdb"), "error 57"},
    {"a copy onto itself", [](Folder& f) { f.Put("a.jpg", "a"); }, Copy("a.jpg", "a.jpg"), "ok"},
    {"a copy keeps the mode it replaces and sweeps its own dead temporaries only", [](Folder& f) { f.Put("a", "new"), f.Put("s/a", "old", 0640), f.Put("s/.a.atv-tmp-0123456789abcdef"), f.Put("s/.b.atv-tmp-0123456789abcdef"); },
     [](Folder& f) { Copy("a", "s/a")(f); return fs::status(f.File("s/a")).permissions() == fs::perms(0640) ? "0640" : "other"; }, "0640", {"a=new", "s/", "s/.b.atv-tmp-0123456789abcdef=x", "s/a=new"}},
    {"a link is replaced, never written through", [](Folder& f) { f.Put("b", "new"), f.Put("s/a", "old"), f.Put("s/a-journal", "j"), f.Link("s/a", "l"); }, Copy("b", "l"), "ok", {"b=new", "l=new", "s/", "s/a-journal=j", "s/a=old"}},
    {"a database nobody holds is replaced, with what its dead writer left", [](Folder& f) { f.InUse(); }, Copy("new.mdb", "Services.mdb"), "ok", {".Services.mdb.atv-tmp-live=live", "Services.mdb=new", "new.mdb=new"}},
    {"a database a reader holds is not replaced", [](Folder& f) { f.InUse(), f.Lock("Services.mdb", 0x40000002); }, Copy("new.mdb", "Services.mdb"), "error 70"},
    {"nor through a link to it", [](Folder& f) { f.InUse(), f.Lock("Services.mdb", 0x40000002), f.Link("Services.mdb", "l.mdb"); }, Copy("new.mdb", "l.mdb"), "error 70"},
    {"a database a WAL connection holds is not removed", [](Folder& f) { f.InUse(), f.Lock("Services.mdb-shm", 128); }, Remove("Services.mdb"), "error 70"},
    {"a database nobody holds is removed with its journal and WAL; then nothing is there", [](Folder& f) { for (const char* s : {"", "-journal", "-wal"}) f.Put(std::string("a.mdb") + s); }, [](Folder& f) { return Remove("a.mdb")(f) + Remove("a.mdb")(f); }, "okok", {}},
    {"a link is not removed", [](Folder& f) { f.Put("a.mdb"), f.Link("a.mdb", "l.mdb"); }, Remove("l.mdb"), "error 75"},
    {"a read-only file is not removed", [](Folder& f) { f.Put("a.mdb", "x", 0444); }, Remove("a.mdb"), "error 70"},
    {"the folder lock: shared in the process, held against others, then let go", {}, Lock, "held released"},
    {"a reader's lock on the folder holds nobody up", [](Folder& f) { f.Lock(".", 0); }, Lock, "held released"},
    {"a folder another installation holds is waited for, then refused", [](Folder& f) { f.Lock(Files_::kFolderLockName, 0); }, Lock, "error 70 status"},
};

class Files : public testing::TestWithParam<Row> {};
TEST_P(Files, Holds) {
  Files_::testing::SetWaits(std::chrono::milliseconds(200), std::chrono::milliseconds(200)), Files_::testing::SetCopyWriteFault({});
  Platform::ScriptedUi ui;
  const Platform::UiInstallation installed(ui);
  Folder f;
  if (GetParam().setup) GetParam().setup(f);
  const auto before = f.Listing();
  std::string got;
  try { got = GetParam().call(f); } catch (const Platform::RunError& e) { got = "error " + std::to_string(e.Number()); }
  for (const auto& e : ui.Events()) if (e.kind != Platform::UiEvent::Kind::Pointer) got += e.kind == Platform::UiEvent::Kind::Message ? " box" + std::to_string(e.style) : " status";
  EXPECT_EQ(got, GetParam().want);
  EXPECT_EQ(f.Listing(), GetParam().after == std::vector<std::string>{"="} ? before : GetParam().after);
}
INSTANTIATE_TEST_SUITE_P(Rows, Files, testing::ValuesIn(kRows), TestSupport::RowName);

// The three boxes as they are worded, the one place they are.
const Row kBoxes[] = {
    {"the failure box with nothing given", {}, Box([] { MsgBox_::ShowProcessFailed("", "", ""); }), "Process has failed !|Process has failed !\r\rThe following error has occurred:\r box48"},
    {"the failure box with its own title", {}, Box([] { MsgBox_::ShowProcessFailed("a\rb\r\nc", "No service.", "Add Service"); }), "Add Service|No service.\r\rThe following error has occurred:\ra\rb\r\nc box48"},
    {"the copy box", {}, Box([] { MsgBox_::ShowCopyFailed("/a/x", "/b/y"); }), "Can't Copy a File ...|AddTarnVel program has failed to copy file from:\r/a/x\rto\r/b/y box64"},
    {"the removal box", {}, Box([] { MsgBox_::ShowRemoveFailed("/b/y"); }), "Can't Remove a File ...|AddTarnVel program has failed to remove the file:\r/b/y box64"},
};
INSTANTIATE_TEST_SUITE_P(Boxes, Files, testing::ValuesIn(kBoxes), TestSupport::RowName);

}  // namespace
