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

// Names are escaped and name spaces dropped; the file of the lock that serialises creation is
// no object's, so that a lock may be called "lock".
TEST(NamedObjectPosix, SegmentsExistWhileHeldForEveryUserAndNoLonger) {
  std::string const base = unique_object_name("lock");
  std::string const names[] = {"Global\\" + base + " 50%/x", unique_object_name("signal"),
                               unique_object_name("block")};
  std::string const files[] = {base + "%2050%25%2Fx", names[1], names[2]};
  {
    qmgl_sync_lock_shared lock(names[0].c_str(), qmgl_action_create);
    qmgl_sync_sema_shared signal(names[1].c_str(), qmgl_action_create, qmgl_sync_sema::posted);
    qmgl_mem_shared block(names[2].c_str(), 100, qmgl_action_create);
    qmgl_sync_lock_shared second(names[0].c_str(), qmgl_action_open);
    for (std::string const& file : files)
      EXPECT_EQ(fs::status(segment_file(file)).permissions() & fs::perms::all,
                fs::perms::all &
                    ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec))
          << file;
  }
  for (std::string const& file : files)
    EXPECT_FALSE(fs::exists(segment_file(file))) << file;
  qmgl_sync_lock_shared plain("lock", qmgl_action_create_or_open);
  EXPECT_EQ(plain.request(0), qmgl_wait_no_error);
  plain.release();
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

}  // namespace
