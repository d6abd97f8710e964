// qmgl_ban.h - empty bases that forbid copying, assignment, or both.
//
// A class states how its objects may be duplicated by deriving from one of these:
//
//   qmgl_ban_copy                 no copy construction; assignment allowed (copies nothing of
//                                 the base)
//   qmgl_ban_assignment           copy construction allowed; no assignment
//   qmgl_ban_copy_and_assignment  neither
//
// Example:
//
//   struct my_handle : qmgl_ban_copy_and_assignment {
//     ...                      // my_handle b(a); and b = a; no longer compile
//   };
//
// The bans are deleted members, so a forbidden copy or assignment is a compile-time error.
// Moves are not declared either, so they fall back to the deleted members and are banned the
// same way. The constructors are protected: the classes exist only as bases.

#ifndef WYGL_QMGL_BAN_H
#define WYGL_QMGL_BAN_H

struct qmgl_ban_copy {
  qmgl_ban_copy(qmgl_ban_copy const&) = delete;
  // Allowed, and copies nothing: a derived class's own assignment decides what it copies.
  qmgl_ban_copy& operator=(qmgl_ban_copy const&) noexcept { return *this; }

 protected:
  qmgl_ban_copy() noexcept = default;
};

class qmgl_ban_assignment {
 public:
  qmgl_ban_assignment& operator=(qmgl_ban_assignment const&) = delete;

 protected:
  qmgl_ban_assignment() noexcept = default;
  qmgl_ban_assignment(qmgl_ban_assignment const&) noexcept = default;
};

struct qmgl_ban_copy_and_assignment {
  qmgl_ban_copy_and_assignment(qmgl_ban_copy_and_assignment const&) = delete;
  qmgl_ban_copy_and_assignment& operator=(qmgl_ban_copy_and_assignment const&) = delete;

 protected:
  qmgl_ban_copy_and_assignment() noexcept = default;
};

#endif  // WYGL_QMGL_BAN_H
