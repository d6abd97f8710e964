// A lock between the threads of one process, re-entrant for its owner, kept in storage that
// the caller provides (so that a public class can hold it without naming the system's type).

#ifndef WYGL_SRC_OS_CRITICAL_SECTION_H
#define WYGL_SRC_OS_CRITICAL_SECTION_H

#include <cstddef>

namespace wygl::os {

// The storage a critical section needs at most, and its alignment; each backend checks that
// the system's record fits.
inline constexpr std::size_t critical_section_size = 48;
inline constexpr std::size_t critical_section_alignment = 8;

void initialize_critical_section(void* storage) noexcept;
void delete_critical_section(void* storage) noexcept;
void enter_critical_section(void* storage) noexcept;
void leave_critical_section(void* storage) noexcept;

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_CRITICAL_SECTION_H
