// qmgl_value_reader.h - reading values in their text syntax.
//
// operator>> reads one value from any input stream: the text that qmgl_value::stream_out
// writes, or text typed by hand. It is also how a reader learns that the input has ended: the
// end of a string, an argument vector or an RPC message reads as the value EOL, the end of a
// file as EOI.
//
//   qmgl_input_str in("(1, 'it''s', \"wide\", #00ab) true");
//   qmgl_value v;
//   in >> v;   // VALUE_ARRAY of INT 1, STR it's, UNI wide, BIN 00 ab
//   in >> v;   // BOOL true
//   in >> v;   // EOL
//
// The syntax, item by item (white space is space, tab, line feed, vertical tab, form feed and
// carriage return, and may precede every value):
//
//   'text'      STR; an apostrophe inside is written twice
//   "text"      UNI; a double quote inside is written twice; the text is taken as UTF-8
//   #hex        BIN; pairs of hexadecimal digits of either case, ended by a delimiter; an odd
//               last digit is dropped
//   -12, +7, 3  INT; ended by a delimiter; taken modulo 2^32, so 4294967297 reads as 1
//   true false  BOOL;  unknown: BOOL3 unknown;  null: NULL (keywords in any case)
//   (a, b)      VALUE_ARRAY; an element that is itself an array adds its elements, so arrays
//               read flat; "()" is the empty array, with nothing between the parentheses
//   NUL         EOL, the end of a string input or of an RPC message
//   0xFF        EOI, the end of a file input
//
// The delimiters are white space, NUL and ( ) { } , . ; : * = < > % + - ' ".
//
// What is written reads back as an equal value of the same type, except that BOOL3 true and
// false read back as BOOL, arrays inside arrays read back flat, EOI and EOL are written as
// texts that do not read back as markers, and a UNI value comes back through UTF-8.

#ifndef WYGL_QMGL_VALUE_READER_H
#define WYGL_QMGL_VALUE_READER_H

#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value.h>
#include <wygl/wygl_export.h>

// Reads one value from in into v and returns in.
//
// First switches in to deliver its end as a character (in.throw_on_eoi(false)) and leaves it
// so; then drops v's old content. Reads each character once; when it returns, at most the
// one character after the value has been read and pushed back with return_char, so that the
// next read starts right after the value and nothing beyond the end of an RPC message is ever
// waited for.
//
// Raises, with file src/qmgl/qmgl_value and a text of "\r\n", the message and "\r\n":
//   exc_unexpected_end_of_input_t when the input ends inside a quoted constant, with the
//     message "unterminated string constant (unmatched single quote)" for 'text and
//     "unterminated string constant (unmatched double quote)" for "text;
//   exc_invalid_token_t, where the text goes on with "before: <", up to 80 characters of the
//     input that follows the error and " ...>" when there were 80 of them, else ">", then
//     "\r\n", with the message
//       "unrecognized value starting with +|-"  a sign not followed by a digit
//       "illegal input"        a number ended by a character that is no delimiter, or a
//                              binary constant holding a character that is no hexadecimal
//                              digit
//       "unrecognized keyword" a word that is none of the four keywords
//       "unrecognized input"   a value starting with % ) * , . : ; < = > { }, an array
//                              element followed by anything but , or ), or the end of the
//                              input where an array element belongs
//       "unrecognized value"   a value starting with any other character, bytes 0x80 to
//                              0xFE among them.
// The context ends early at the end of the input, which is pushed back, so that the next read
// gives EOL (or EOI) again. A double-quoted text that is cut short inside a UTF-8 sequence
// raises exc_unexpected_end_of_input_t from the conversion (file src/qmgl/qmgl_iconv).
// Failures of the input itself pass out unchanged; running out of memory raises
// exc_not_enough_memory_t ("not enough memory").
//
// After a failure v holds NULL, or, when the failure came inside an array, the VALUE_ARRAY of
// the elements read completely before it (flat, as ever).
//
// Arrays may nest to any depth: the nesting is counted, not recursed into, so no input can
// exhaust the stack.
//
// A file input delivers the character 0xFF at its end, and its empty() then answers true. A
// quoted constant ends there as unterminated; a binary constant ends there and is accepted,
// the 0xFF being left for the next read (EOI); a number ends there with "illegal input", since
// 0xFF is no delimiter. A 0xFF byte inside the data of a file belongs to a quoted constant like
// any other character; where a value starts, it reads as EOI, from any input.
//
// Thread safety: one input and one value are used by one thread at a time. The set of
// delimiters is made on the first read in the process; first reads on several threads at once
// are safe.
WYGL_API qmgl_input& operator>>(qmgl_input& in, qmgl_value& v);

#endif  // WYGL_QMGL_VALUE_READER_H
