/*
 * libjson: a small callback-driven JSON parser and printer in plain C11.
 *
 * Parser contract:
 *  - json_parser_init() prepares a caller-owned json_parser (usually on the
 *    caller's stack); json_parser_free() releases what it allocated. A parser
 *    serves one document, which may be fed in several json_parser_string()
 *    calls; events are delivered synchronously, in document order, from
 *    inside json_parser_string() on the calling thread.
 *  - Strings and keys reach the callback unescaped (\uXXXX and surrogate
 *    pairs turned into UTF-8), with their byte length, and are not
 *    NUL-terminated; the pointer is valid only during the call. Bytes of
 *    0x80 and above pass through unchanged (no UTF-8 validation: file names
 *    on the device may be in any encoding).
 *  - Numbers reach the callback as their JSON text: JSON_INT when the token
 *    has neither fraction nor exponent, JSON_FLOAT otherwise. A number is
 *    delivered once the byte after it has been seen, so a number at the very
 *    end of the input is held back until more input arrives.
 *  - json_parser_string() reports an error only for text that cannot be the
 *    start of a valid JSON text; input that simply stops (even in the middle
 *    of a token) is not an error. json_parser_is_done() says whether a
 *    complete top-level value has been read.
 *  - Nesting deeper than JSON_MAX_NESTING (64) and tokens longer than
 *    config.max_data are errors; work per input byte is bounded and buffers
 *    grow geometrically. After the first error the parser stays failed.
 *  - A callback that returns non-zero stops the parse with
 *    JSON_ERROR_CALLBACK.
 *
 * Printer contract:
 *  - json_print_pretty() is given one token per call (same codes as the
 *    parser) and writes it with JSON punctuation, line breaks and two-space
 *    indentation through the output callback. Strings and keys are escaped
 *    (quote, backslash, control characters); number texts are checked
 *    against the JSON number grammar. A token that would make the output
 *    invalid (a key outside an object, a value without a key in an object,
 *    a mismatched end, a second top-level value, a malformed number) is
 *    refused with JSON_ERROR_PRINT_ORDER or JSON_ERROR_BAD_NUMBER and
 *    nothing is written. When the output callback fails, the printer stays
 *    failed and writes nothing more, so the output never has a hole.
 *
 * Neither object takes a lock: each belongs to one thread at a time.
 */
#ifndef LIBJSON_JSON_H
#define LIBJSON_JSON_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Event / token codes. */
#define JSON_NONE 0
#define JSON_ARRAY_BEGIN 1
#define JSON_OBJECT_BEGIN 2
#define JSON_ARRAY_END 3
#define JSON_OBJECT_END 4
#define JSON_INT 5
#define JSON_FLOAT 6
#define JSON_STRING 7
#define JSON_KEY 8
#define JSON_TRUE 9
#define JSON_FALSE 10
#define JSON_NULL 11

/* Error codes (0 means no error). */
#define JSON_ERROR_NO_MEMORY 1
#define JSON_ERROR_BAD_CHAR 2          /* raw control character in a string */
#define JSON_ERROR_NESTING_LIMIT 3     /* deeper than the nesting bound */
#define JSON_ERROR_DATA_LIMIT 4        /* token longer than max_data */
#define JSON_ERROR_UNEXPECTED_CHAR 5   /* byte not allowed by the grammar here */
#define JSON_ERROR_BAD_ESCAPE 6        /* unknown escape or bad hex digit */
#define JSON_ERROR_LONE_SURROGATE 7    /* \uD800-\uDFFF not forming a pair */
#define JSON_ERROR_CALLBACK 8          /* the callback returned non-zero */
#define JSON_ERROR_BAD_NUMBER 9        /* printer: text is not a JSON number */
#define JSON_ERROR_PRINT_ORDER 10      /* printer: token not allowed here */
#define JSON_ERROR_INVALID_ARGUMENT 11 /* null parser/printer/callback */

/* The deepest nesting of arrays and objects the parser accepts. */
#define JSON_MAX_NESTING 64
/* Default longest string, key or number token, in bytes. */
#define JSON_DEFAULT_MAX_DATA (64u * 1024u * 1024u)

typedef int (*json_parser_callback)(void* userdata, int type, const char* data, uint32_t length);
typedef int (*json_printer_callback)(void* userdata, const char* s, uint32_t length);

typedef struct json_config {
  /* Nesting bound; 0 or anything above JSON_MAX_NESTING means JSON_MAX_NESTING. */
  uint32_t max_nesting;
  /* Longest token in bytes; 0 means JSON_DEFAULT_MAX_DATA. */
  uint32_t max_data;
} json_config;

/* Opaque to callers: fields may change. */
typedef struct json_parser {
  json_config config;
  json_parser_callback callback;
  void* userdata;
  int state;
  int error;
  int string_is_key;
  int number_is_float;
  /* open containers: JSON_ARRAY_BEGIN or JSON_OBJECT_BEGIN per level */
  uint32_t depth;
  unsigned char stack[JSON_MAX_NESTING];
  /* current string or number token */
  char* buffer;
  uint32_t buffer_size;
  uint32_t buffer_used;
  /* \uXXXX decoding */
  uint32_t unicode_value;
  uint32_t unicode_digits;
  uint32_t high_surrogate;
  /* true / false / null being matched */
  const char* literal;
  uint32_t literal_pos;
  int literal_type;
} json_parser;

int json_parser_init(json_parser* parser, json_config* config, json_parser_callback callback,
                     void* userdata);
int json_parser_string(json_parser* parser, const char* s, uint32_t length, uint32_t* processed);
int json_parser_is_done(const json_parser* parser);
int json_parser_free(json_parser* parser);

typedef struct json_printer {
  json_printer_callback callback;
  void* userdata;
  int error;     /* sticky output failure */
  int after_key; /* a key was printed; its value comes next */
  int enter;     /* the innermost container has no element yet */
  int done;      /* a complete top-level value has been printed */
  uint32_t depth;
  uint32_t stack_size;
  unsigned char* stack; /* open containers, grown geometrically */
} json_printer;

int json_print_init(json_printer* printer, json_printer_callback callback, void* userdata);
int json_print_pretty(json_printer* printer, int type, const char* data, uint32_t length);
int json_print_free(json_printer* printer);

#ifdef __cplusplus
}
#endif

#endif /* LIBJSON_JSON_H */
