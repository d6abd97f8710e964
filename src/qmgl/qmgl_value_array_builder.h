// Collecting the elements of an array value as they are read, to append them all at once.
//
// Appending element by element moves every value to a larger block again and again as the
// array grows; the value reader instead collects the bodies of the elements it reads in a
// plain list and gives the array one block of the final size. What the array holds in the end
// is the same as after appending each element to it in turn.
//
//   qmgl_value_array_builder collected;
//   collected.add(body);               // an element's body, owned from now on
//   collected.append_to(array);        // array += every element collected, in order

#ifndef WYGL_SRC_QMGL_QMGL_VALUE_ARRAY_BUILDER_H
#define WYGL_SRC_QMGL_QMGL_VALUE_ARRAY_BUILDER_H

#include <vector>

#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_array.h>

class qmgl_value_array_builder {
 public:
  qmgl_value_array_builder() = default;
  qmgl_value_array_builder(qmgl_value_array_builder const&) = delete;
  qmgl_value_array_builder& operator=(qmgl_value_array_builder const&) = delete;
  // Releases the elements not handed over.
  ~qmgl_value_array_builder();

  // Takes the body of the next element. Raises exc_not_enough_memory_t, having released the
  // body.
  void add(qmgl_value_base* body);
  // Appends the elements collected to a, in order, and forgets them. Raises
  // exc_not_enough_memory_t, leaving a as it was and the elements collected.
  void append_to(qmgl_value_array& a);

 private:
  std::vector<qmgl_value_base*> _bodies;
};

#endif  // WYGL_SRC_QMGL_QMGL_VALUE_ARRAY_BUILDER_H
