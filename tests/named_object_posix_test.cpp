// Where the POSIX backend keeps named objects: shared-memory files in /dev/shm, which only
// live while some process holds them.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_sync.h>

#include "support/child_process.h"
#include "support/lock_holder.h"

namespace {

namespace fs = std::filesystem;

fs::path segment_file(std::string const& escaped_name) {
  return fs::path("/dev/shm") / ("wygl." + escaped_name);
}

TEST(NamedObjectPosix, SegmentsExistWhileHeldForEveryUserAndNoLonger) {
  std::string const lock_name = unique_object_name("lock");
  std::string const signal_name = unique_object_name("signal");
  std::string const block_name = unique_object_name("block");
  {
    qmgl_sync_lock_shared lock(lock_name.c_str(), qmgl_action_create);
    qmgl_sync_sema_shared signal(signal_name.c_str(), qmgl_action_create, qmgl_sync_sema::posted);
    qmgl_mem_shared block(block_name.c_str(), 100, qmgl_action_create);
    for (std::string const& name : {lock_name, signal_name, block_name}) {
      fs::path const file = segment_file(name);
      ASSERT_TRUE(fs::exists(file)) << file;
      EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                    fs::perms::group_write | fs::perms::others_read | fs::perms::others_write)
          << file;
    }
    qmgl_sync_lock_shared second(lock_name.c_str(), qmgl_action_open);
  }
  for (std::string const& name : {lock_name, signal_name, block_name})
    EXPECT_FALSE(fs::exists(segment_file(name))) << name;
}

// A killed last holder leaves its file; the next process that creates or opens any named
// object removes it, whatever its name.
TEST(NamedObjectPosix, FilesOfKilledHoldersGoWhenAnotherProcessUsesANamedObject) {
  std::vector<std::string> names;
  for (int cycle = 0; cycle < 4; ++cycle) {
    names.push_back(unique_object_name("lock"));
    lock_holder_process(names.back(), qmgl_action_create).kill();
  }
  std::string const signal_name = unique_object_name("signal");
  qmgl_sync_sema_shared signal(signal_name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted);
  child_process user("post_signal", {signal_name});
  ASSERT_EQ(user.wait_for_exit(std::chrono::seconds(60)), 0);
  for (std::string const& name : names)
    EXPECT_FALSE(fs::exists(segment_file(name))) << name;
}

TEST(NamedObjectPosix, NamesAreEscapedAndNameSpacesDropped) {
  std::string const base = unique_object_name("lock");
  {
    qmgl_sync_lock_shared lock(("Global\\" + base + " 50%/x").c_str(), qmgl_action_create);
    EXPECT_TRUE(fs::exists(segment_file(base + "%2050%25%2Fx")));
  }
  EXPECT_FALSE(fs::exists(segment_file(base + "%2050%25%2Fx")));
  // The file of the lock that serialises creation is no object's: a lock may be called "lock".
  qmgl_sync_lock_shared plain("lock", qmgl_action_create_or_open);
  EXPECT_EQ(plain.request(0), qmgl_wait_no_error);
  plain.release();
}

}  // namespace
