// Files_ and MsgBox_ as a table: each row files made in a fresh folder, a call, what it gave and the folder after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "DatabaseLocks.h"
#include "Files_testing.h"
#include "MsgBox_.h"
#include "RunError.h"
#include "ScriptedUi.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Platform::UiEvent;

struct Folder : TestSupport::TempDir {  // a row's folder, its boxes, and another program's locks on its files
  Platform::ScriptedUi ui;
  const Platform::UiInstallation installed{ui};
  std::vector<int> held;  // closed when the row ends
  ~Folder() {
    for (const int fd : held) ::close(fd);
  }
  void Put(const std::vector<std::string>& entries) const {  // each "name=content" (a file) or "name@target" (a link)
    for (const auto& e : entries) {
      const auto at = e.find_first_of("=@");
      const std::string name = File(e.substr(0, at)), rest = e.substr(at + 1);
      fs::create_directories(fs::path(name).parent_path());
      if (e[at] == '@') fs::create_symlink(File(rest), name);
      if (e[at] == '=') TestSupport::WriteFile(name, rest);
    }
  }
  // Whether another program takes a lock, kept: on byte `at` of `name` (made), else all of it (none there is free).
  bool Hold(const std::string& name, off_t at = -1) {
    held.push_back(::open(File(name).c_str(), at < 0 ? O_RDWR : O_RDWR | O_CREAT, 0600));
    struct flock range = {static_cast<short>(at < 0 ? F_WRLCK : F_RDLCK), SEEK_SET, std::max<off_t>(at, 0), at >= 0, 0};
    return held.back() < 0 || ::fcntl(held.back(), F_OFD_SETLK, &range) == 0;
  }
  std::vector<std::string> Listing() const {  // every entry: "name=content", "link@" or "folder/"
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(Path())) {
      const std::string kind = e.is_symlink() ? "@" : e.is_regular_file() ? "=" + TestSupport::ReadFile(e.path()) : "/";
      names.push_back(e.path().lexically_relative(Path()).string() + kind);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

using Call = std::function<std::string(Folder&)>;
struct Row {
  std::string name;
  std::function<void(Folder&)> setup;
  Call call;
  std::string want;
  std::vector<std::string> after = {"="};  // "=" for the folder as it was before the call
};

Call Copy(std::string from, std::string to) {  // `from` copied to `to`, or removed when there is no `to`
  return [=](Folder& f) {
    if (to.empty()) Files_::RemoveFileChecked(f.File(from), Db::kDatabaseLocks);
    if (!to.empty()) Files_::StagedCopy(f.File(from), f.File(to), Db::kDatabaseLocks).Place();
    return "ok";
  };
}
Call Remove(std::string path) { return Copy(path, ""); }
Call Read(std::string path) {  // each line's length, then the error that ends the reading
  return [=](Folder& f) {
    std::string lines;
    Files_::InputFile file;
    try {
      for (file.Open(f.File(path));; lines += "|") lines += std::to_string(file.ReadLine().size());
    } catch (const Platform::RunError& e) {
      lines += "error " + std::to_string(e.Number());
    }
    return lines + (Files_::CloseFile(file) && !file.IsOpen() ? "" : " open");
  };
}
std::string Lock(Folder& f) {  // the folder lock taken twice here; whether another program takes it then, and after
  std::optional<Files_::FolderLock> first(std::in_place, f.Path()), again(std::in_place, f.Path());
  const std::string then = f.Hold(Files_::kFolderLockName) ? "shared" : "held";
  first.reset();
  again.reset();
  return then + (f.Hold(Files_::kFolderLockName) ? " released" : " kept");
}
// A database with a dead writer's journal, WAL and -shm, a live copy's temporary and a dead one's.
void InUse(Folder& f) {
  f.Put({"s.mdb-journal=x", "s.mdb-wal=x", "s.mdb-shm=x", "new=new", "s.mdb=old", ".s.mdb.atv-tmp-0=x",
         ".s.mdb.atv-tmp-1=x"});
  f.Hold(".s.mdb.atv-tmp-1", off_t{1} << 40);
}
const std::string kLong(65535, 'x');

// clang-format off
const Row kRows[] = {
    {"a path taken apart at its last separator", {}, [](Folder&) { return Files_::LastPathPart("shop/Shop/shop") + " " + Files_::FolderOfPath("shop/Shop/shop"); }, "shop shop/Shop", {}},
    {"a path without a separator", {}, [](Folder&) { return Files_::LastPathPart("Mailvoro.mdb") + " " + Files_::FolderOfPath("Mailvoro.mdb"); }, " .", {}},
    {"a file at the root", {}, [](Folder&) { return Files_::LastPathPart("/Mailvoro.mdb") + " " + Files_::FolderOfPath("/Mailvoro.mdb"); }, "Mailvoro.mdb /", {}},
    {"a link to a file is located", [](Folder& f) { f.Put({"a.jpg=x", "l.jpg@a.jpg"}); }, [](Folder& f) { return std::to_string(Files_::LocateFile(f.File("l.jpg"), false) + Files_::LocateFile(f.File("l.jpg"), true)); }, "2"},
    {"a dangling link is not located, with a box when asked", [](Folder& f) { f.Put({"l.jpg@gone"}); }, [](Folder& f) { return std::to_string(Files_::LocateFile(f.File("l.jpg"), false) + Files_::LocateFile(f.File("l.jpg"), true)); }, "0 box48"},
    {"lines end at CR, LF or CR LF, the last at the end", [](Folder& f) { f.Put({"a=a\r\nb\nc\rd"}); }, Read("a"), "1|1|1|1|error 62"},
    {"a CR LF across a chunk's end", [](Folder& f) { f.Put({"a=" + kLong + "\r\nend"}); }, Read("a"), "65535|3|error 62"},
    {"a line longer than a chunk", [](Folder& f) { f.Put({"a=" + kLong + kLong + "\nend"}); }, Read("a"), "131070|3|error 62"},
    {"a line over the limit", [](Folder& f) { f.Put({"a=" + std::string(Files_::kMostLineBytes + 2, '9')}); }, Read("a"), "error 75"},
    {"a missing input file", {}, Read("no/a.csv"), "error 53"},
    {"a pipe is no input file and never waited on", [](Folder& f) { ::mkfifo(f.File("p").c_str(), 0600); }, Read("p"), "error 75"},
    {"a copy from a missing file", [](Folder& f) { f.Put({"shop/a.jpg=old"}); }, Copy("x/a.jpg", "shop/a.jpg"), "error 53"},
    {"a copy into a missing folder", [](Folder& f) { f.Put({"a.jpg=x"}); }, Copy("a.jpg", "no/a.jpg"), "error 76"},
    {"a copy over a read-only file, even for root", [](Folder& f) { f.Put({"a=new", "s/a=old"}); fs::permissions(f.File("s/a"), fs::perms(0440)); }, Copy("a", "s/a"), "error 70"},
    {"a copy into a folder that takes no new file", [](Folder& f) { f.Put({"a=new", "s/a=old"}); fs::permissions(f.File("s"), fs::perms(0555)); }, Copy("a", "s/a"), "error 70"},
    {"a copy on a full disk", [](Folder& f) { f.Put({"b=" + kLong + kLong, "s/b=old"}); Files_::testing::SetCopyWriteFault([](std::uint64_t n) { return n > 65535 ? ENOSPC : 0; }); }, Copy("b", "s/b"), "error 61"},
    {"a copy onto itself", [](Folder& f) { f.Put({"a.jpg=a"}); }, Copy("a.jpg", "a.jpg"), "ok"},
    {"a copy keeps the mode it replaces and sweeps its own dead temporaries only", [](Folder& f) { f.Put({"a=new", "s/a=old", "s/.a.atv-tmp-0123456789abcdef=x", "s/.b.atv-tmp-0123456789abcdef=x"}); fs::permissions(f.File("s/a"), fs::perms(0640)); }, [](Folder& f) { Copy("a", "s/a")(f); return std::to_string(fs::status(f.File("s/a")).permissions() == fs::perms(0640)); }, "1", {"a=new", "s/", "s/.b.atv-tmp-0123456789abcdef=x", "s/a=new"}},
    {"a link is replaced, never written through", [](Folder& f) { f.Put({"b=new", "s/a=old", "s/a-journal=j", "l@s/a"}); }, Copy("b", "l"), "ok", {"b=new", "l=new", "s/", "s/a-journal=j", "s/a=old"}},
    {"a database nobody holds is replaced, with what its dead writer left", InUse, Copy("new", "s.mdb"), "ok", {".s.mdb.atv-tmp-1=x", "new=new", "s.mdb=new"}},
    {"a database a reader holds is not replaced, through a link to it either", [](Folder& f) { InUse(f); f.Hold("s.mdb", 0x40000002); f.Put({"l.mdb@s.mdb"}); }, Copy("new", "l.mdb"), "error 70"},
    {"a database a WAL connection holds is not removed", [](Folder& f) { InUse(f); f.Hold("s.mdb-shm", 128); }, Remove("s.mdb"), "error 70"},
    {"a database nobody holds is removed with its journal and WAL; then nothing is there", [](Folder& f) { f.Put({"a.mdb=x", "a.mdb-journal=x", "a.mdb-wal=x"}); }, [](Folder& f) { return Remove("a.mdb")(f) + Remove("a.mdb")(f); }, "okok", {}},
    {"a link is not removed", [](Folder& f) { f.Put({"a.mdb=x", "l.mdb@a.mdb"}); }, Remove("l.mdb"), "error 75"},
    {"the folder lock: shared in the process, held against others, then let go", {}, Lock, "held released"},
    {"a reader's lock on the folder holds nobody up", [](Folder& f) { f.held.push_back(::open(f.Path().c_str(), O_RDONLY)); ::flock(f.held.back(), LOCK_EX | LOCK_NB); }, Lock, "held released"},
    {"a folder another installation holds is waited for, then refused", [](Folder& f) { f.Hold(Files_::kFolderLockName, 0); }, Lock, "error 70 status"},
    // The boxes' words are the golden transcripts' (tests/app), but for the fallback title.
    {"the failure box with nothing given", {}, [](Folder& f) { MsgBox_::ShowProcessFailed("", "", ""); return f.ui.Events().back().title + "|" + f.ui.Events().back().text; }, "Process has failed !|Process has failed !\r\rThe following error has occurred:\r box48"},
    {"the copy box", {}, [](Folder&) { MsgBox_::ShowCopyFailed("/a/x", "/b/y"); return ""; }, " box64"},
    {"the removal box", {}, [](Folder&) { MsgBox_::ShowRemoveFailed("/b/y"); return ""; }, " box64"},
};
// clang-format on

class Files : public testing::TestWithParam<Row> {};
TEST_P(Files, Holds) {
  Files_::testing::SetWaits(std::chrono::milliseconds(200), std::chrono::milliseconds(200));
  Files_::testing::SetCopyWriteFault({});
  Folder f;
  if (GetParam().setup) GetParam().setup(f);
  const auto before = f.Listing();
  std::string got;
  try {
    got = GetParam().call(f);
  } catch (const Platform::RunError& e) {
    got = "error " + std::to_string(e.Number());
  }
  for (const auto& e : f.ui.Events())
    if (e.kind != UiEvent::Kind::Pointer)
      got += e.kind == UiEvent::Kind::Message ? " box" + std::to_string(e.style) : " status";
  EXPECT_EQ(got, GetParam().want);
  EXPECT_EQ(f.Listing(), GetParam().after == std::vector<std::string>{"="} ? before : GetParam().after);
}
INSTANTIATE_TEST_SUITE_P(Rows, Files, testing::ValuesIn(kRows), TestSupport::RowName);

}  // namespace
