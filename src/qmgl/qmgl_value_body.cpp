// The body classes: the shared bodies, the base behaviour of every slot, and typed access.

#include "qmgl/qmgl_value_body.h"

#include <algorithm>
#include <cstdint>

#include <wygl/qmgl_exc.h>
#include <wygl/wytr_ids.h>

#include "wytr/wytr_scope.h"

namespace {

// Constant-initialised storage whose object is never destroyed.
template <class T>
union immortal {
  T body;

  template <class... Args>
  constexpr explicit immortal(Args... args) noexcept : body(args...) {}
  ~immortal() {}
};

constinit immortal<value_null_t> null_body;
constinit immortal<value_eoi_t> eoi_body;
constinit immortal<value_eol_t> eol_body;
constinit immortal<value_bool_t> bool_bodies[2] = {immortal<value_bool_t>(false),
                                                   immortal<value_bool_t>(true)};
// Indexed 0 false, 1 true, 2 unknown.
constinit immortal<value_bool3_t> bool3_bodies[3] = {immortal<value_bool3_t>(qmgl_bool3_false),
                                                     immortal<value_bool3_t>(qmgl_bool3_true),
                                                     immortal<value_bool3_t>(qmgl_bool3_unknown)};

constexpr char const* type_names[] = {"NULL", "EOI", "EOL", "BOOL", "BOOL3",
                                      "INT",  "STR", "UNI", "BIN",  "VALUE_ARRAY"};

[[noreturn]] void should_not_execute(int line) {
  throw exc_should_not_execute_t(qmgl_value_source_file, line, "exc_should_not_execute");
}

// The inner-operation records of a conversion this body does not make: the entry record
// names the body's type and the type the conversion expects; the exit record follows when
// the scope ends, also when it ends by the exception of a refusal.
wytr::operation_scope refusal_scope(qmgl_value_base const& body, std::uint32_t tracepoint,
                                    char const* format) noexcept {
  return {tracepoint, wytr::depth::inner_operation, &body, format,
          qmgl_value_type_name(body.type_code())};
}

[[noreturn]] void refuse(qmgl_value_base const& body, std::uint32_t tracepoint,
                         char const* format) {
  wytr::operation_scope const scope = refusal_scope(body, tracepoint, format);
  throw exc_invalid_cast_t(qmgl_value_source_file, __LINE__, "exc_invalid_cast");
}

constexpr char not_bool3[] = "object type is %s not BOOL3";
constexpr char not_int[] = "object type is %s not INT";
constexpr char not_str[] = "object type is %s not STR";
constexpr char not_uni[] = "object type is %s not UNI";
constexpr char not_bin[] = "object type is %s not BIN";
constexpr char not_value_array[] = "object type is %s not VALUE_ARRAY";

// A byte vector filled by the library after it is made.
struct built_bytes : qmgl_refcounted_vector_of<unsigned char> {
  explicit built_bytes(imp_type* body) noexcept : qmgl_refcounted_vector_of(body, bind_tag{}) {}
};

}  // namespace

char const* qmgl_value_type_name(unsigned code) noexcept {
  return code < std::size(type_names) ? type_names[code] : "";
}

qmgl_value_base* qmgl_value_null_body() noexcept {
  return &null_body.body;
}
qmgl_value_base* qmgl_value_eoi_body() noexcept {
  return &eoi_body.body;
}
qmgl_value_base* qmgl_value_eol_body() noexcept {
  return &eol_body.body;
}
qmgl_value_base* qmgl_value_bool_body(bool b) noexcept {
  return &bool_bodies[b ? 1 : 0].body;
}
qmgl_value_base* qmgl_value_bool3_body(qmgl_bool3 b3) noexcept {
  return &bool3_bodies[b3.value == qmgl_bool3_unknown ? 2 : (b3.as_bool() ? 1 : 0)].body;
}

// ---- the base ----

qmgl_value_base::~qmgl_value_base() noexcept(false) = default;

void qmgl_value_base::release() {
  delete this;
}

qmgl_value_base& qmgl_value_base::append_array(qmgl_value_array const&) {
  should_not_execute(__LINE__);
}
qmgl_value_base& qmgl_value_base::append_value(qmgl_value const&) {
  should_not_execute(__LINE__);
}
qmgl_value_base& qmgl_value_base::remove_array(qmgl_value_array const&) {
  should_not_execute(__LINE__);
}
qmgl_value_base& qmgl_value_base::remove_value(qmgl_value const&) {
  should_not_execute(__LINE__);
}

bool qmgl_value_base::is_null() const {
  return false;
}
bool qmgl_value_base::is_eoi() const {
  return false;
}
bool qmgl_value_base::is_eol() const {
  return false;
}
bool qmgl_value_base::is_bool() const {
  return false;
}
bool qmgl_value_base::is_bool3() const {
  return false;
}
bool qmgl_value_base::is_int() const {
  return false;
}
bool qmgl_value_base::is_charp() const {
  return false;
}
bool qmgl_value_base::is_unicharp() const {
  return false;
}
bool qmgl_value_base::is_binaryp() const {
  return false;
}
bool qmgl_value_base::is_str() const {
  return false;
}
bool qmgl_value_base::is_uni() const {
  return false;
}
bool qmgl_value_base::is_uni_ex() const {
  return false;
}
bool qmgl_value_base::is_bin() const {
  return false;
}
bool qmgl_value_base::is_value_array() const {
  return false;
}

bool qmgl_value_base::as_bool() const {
  refusal_scope(*this, wytr::tp::value_as_bool, "object type is %s not BOOL");
  return false;
}
qmgl_bool3 qmgl_value_base::as_bool3() const {
  refuse(*this, wytr::tp::value_as_bool3, not_bool3);
}
int qmgl_value_base::as_int() const {
  refuse(*this, wytr::tp::value_as_int, not_int);
}
char const* qmgl_value_base::as_charp() const {
  refuse(*this, wytr::tp::value_as_charp, not_str);
}
unsigned short const* qmgl_value_base::as_unicharp() const {
  refuse(*this, wytr::tp::value_as_unicharp, not_uni);
}
unsigned char const* qmgl_value_base::as_binaryp() const {
  refuse(*this, wytr::tp::value_as_binaryp, not_bin);
}
qmgl_ntarray_of<char, 0> const& qmgl_value_base::as_str() const {
  refuse(*this, wytr::tp::value_as_str, not_str);
}
qmgl_ntarray_of<unsigned short, 0> const& qmgl_value_base::as_uni() const {
  refuse(*this, wytr::tp::value_as_uni, not_uni);
}
qmgl_refcounted_vector_of<unsigned char> const& qmgl_value_base::as_bin() const {
  refuse(*this, wytr::tp::value_as_bin, not_bin);
}
// A BIN body refuses too: its bytes are no list of wide strings, and its own bytes are
// reached through as_bin.
qmgl_refcounted_vector_of<unsigned char> qmgl_value_base::as_bytes() const {
  refuse(*this, wytr::tp::value_as_bytes, not_bin);
}
qmgl_value_array const& qmgl_value_base::as_value_array() const {
  refuse(*this, wytr::tp::value_as_value_array, not_value_array);
}

// ---- shared bodies ----

qmgl_value_base* qmgl_value_static::clone() const {
  // Shared bodies never change, so handing out a non-const pointer to one is harmless.
  return const_cast<qmgl_value_static*>(this);
}

void qmgl_value_static::release() {}

void qmgl_value_static::operator delete(qmgl_value_static*,
                                        std::destroying_delete_t) noexcept(false) {
  should_not_execute(__LINE__);
}

bool value_bool_t::as_bool() const {
  return value;
}
qmgl_bool3 value_bool_t::as_bool3() const {
  return value;
}

bool value_bool3_t::as_bool() const {
  return value == qmgl_bool3_true;
}
qmgl_bool3 value_bool3_t::as_bool3() const {
  return value;
}

// ---- owned bodies ----

int value_int_t::as_int() const {
  return value;
}

char const* value_str_t::as_charp() const {
  return value;
}
qmgl_ntarray_of<char, 0> const& value_str_t::as_str() const {
  return value;
}

bool value_uni_t::is_uni_ex() const {
  unsigned short const* const units = value;
  return std::find(units, units + value.length(), static_cast<unsigned short>('%')) !=
         units + value.length();
}
unsigned short const* value_uni_t::as_unicharp() const {
  return value;
}
qmgl_ntarray_of<unsigned short, 0> const& value_uni_t::as_uni() const {
  return value;
}

unsigned char const* value_bin_t::as_binaryp() const {
  return value;
}
qmgl_refcounted_vector_of<unsigned char> const& value_bin_t::as_bin() const {
  return value;
}

qmgl_value_base& value_array_t::append_array(qmgl_value_array const& a) {
  value += a;
  return *this;
}
qmgl_value_base& value_array_t::append_value(qmgl_value const& v) {
  value += v;
  return *this;
}
qmgl_value_base& value_array_t::remove_array(qmgl_value_array const& a) {
  value -= a;
  return *this;
}
qmgl_value_base& value_array_t::remove_value(qmgl_value const& v) {
  value -= v;
  return *this;
}

qmgl_value_array const& value_array_t::as_value_array() const {
  return value;
}

qmgl_refcounted_vector_of<unsigned char> value_array_t::as_bytes() const {
  // Every element is checked and measured first, so the vector is made once at its size.
  std::uint64_t total = 2;
  for (unsigned i = 0; i < value.get_size(); ++i) {
    value[i].as_unicharp();
    total += 2 * (std::uint64_t{value[i].as_uni().length()} + 1);
  }
  built_bytes bytes(built_bytes::imp_type::create(
      total > 0xFFFFFFFEu ? 0xFFFFFFFFu : static_cast<unsigned>(total)));
  unsigned char* out = bytes._imp->data;
  for (unsigned i = 0; i < value.get_size(); ++i) {
    qmgl_ntarray_of<unsigned short, 0> const& text = value[i].as_uni();
    unsigned short const* const units = text;
    for (unsigned k = 0; k <= text.length(); ++k) {
      *out++ = static_cast<unsigned char>(units[k] & 0xFF);
      *out++ = static_cast<unsigned char>(units[k] >> 8);
    }
  }
  out[0] = 0;
  out[1] = 0;
  return bytes;
}
