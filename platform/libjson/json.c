/*
 * libjson parser and printer. See json.h for the contract.
 *
 * The parser is a byte-driven state machine: one switch per input byte (with
 * fast inner loops for plain string bytes, digits and white space), a fixed
 * stack of JSON_MAX_NESTING container kinds, and one token buffer that grows
 * by doubling. Nothing recurses, so no input can exhaust the C stack.
 */
#include "libjson/json.h"

#include <stdlib.h>
#include <string.h>

enum parser_state {
  ST_VALUE = 0,           /* a value must come (start, after ':' or ',' in an array) */
  ST_ARRAY_FIRST,         /* after '[': a value or ']' */
  ST_OBJECT_FIRST,        /* after '{': a key or '}' */
  ST_KEY,                 /* after ',' in an object: a key */
  ST_COLON,               /* after a key: ':' */
  ST_AFTER_VALUE,         /* inside a container after a value: ',' or the end */
  ST_END,                 /* the top-level value is complete: white space only */
  ST_STRING,              /* inside a string or key */
  ST_ESCAPE,              /* after a backslash */
  ST_UNICODE,             /* reading the four hex digits of \uXXXX */
  ST_SURROGATE_BACKSLASH, /* after a high surrogate: '\' of the low one */
  ST_SURROGATE_U,         /* after a high surrogate and '\': 'u' */
  ST_LITERAL,             /* inside true, false or null */
  ST_NUM_MINUS,           /* '-' read: a digit must come */
  ST_NUM_ZERO,            /* leading '0' read */
  ST_NUM_INT,             /* integer digits */
  ST_NUM_DOT,             /* '.' read: a digit must come */
  ST_NUM_FRAC,            /* fraction digits */
  ST_NUM_EXP,             /* 'e' read: sign or digit */
  ST_NUM_EXP_SIGN,        /* exponent sign read: a digit must come */
  ST_NUM_EXP_DIGITS       /* exponent digits */
};

static int is_ws(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
static int is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

/* The byte a one-letter escape stands for, or -1 when it is not one. */
static int short_escape(unsigned char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return -1;
  }
}

static int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int json_parser_init(json_parser* parser, json_config* config, json_parser_callback callback,
                     void* userdata) {
  if (parser == NULL) return JSON_ERROR_INVALID_ARGUMENT;
  memset(parser, 0, sizeof(*parser));
  if (config != NULL) parser->config = *config;
  if (parser->config.max_nesting == 0 || parser->config.max_nesting > JSON_MAX_NESTING)
    parser->config.max_nesting = JSON_MAX_NESTING;
  if (parser->config.max_data == 0) parser->config.max_data = JSON_DEFAULT_MAX_DATA;
  parser->callback = callback;
  parser->userdata = userdata;
  parser->state = ST_VALUE;
  return 0;
}

int json_parser_free(json_parser* parser) {
  if (parser == NULL) return JSON_ERROR_INVALID_ARGUMENT;
  free(parser->buffer);
  parser->buffer = NULL;
  parser->buffer_size = 0;
  parser->buffer_used = 0;
  return 0;
}

int json_parser_is_done(const json_parser* parser) {
  return parser != NULL && parser->error == 0 && parser->state == ST_END;
}

/* Appends n bytes to the token buffer, doubling it as needed. */
static int buffer_append(json_parser* p, const char* data, uint32_t n) {
  uint64_t needed = (uint64_t)p->buffer_used + n;
  if (needed > p->config.max_data) return JSON_ERROR_DATA_LIMIT;
  if (needed > p->buffer_size) {
    uint64_t size = p->buffer_size ? (uint64_t)p->buffer_size * 2 : 64;
    while (size < needed) size *= 2;
    if (size > p->config.max_data) size = p->config.max_data;
    char* grown = (char*)realloc(p->buffer, (size_t)size);
    if (grown == NULL) return JSON_ERROR_NO_MEMORY;
    p->buffer = grown;
    p->buffer_size = (uint32_t)size;
  }
  memcpy(p->buffer + p->buffer_used, data, n);
  p->buffer_used += n;
  return 0;
}

static int buffer_append_byte(json_parser* p, unsigned char c) {
  if (p->buffer_used < p->buffer_size) {
    p->buffer[p->buffer_used++] = (char)c;
    return 0;
  }
  char b = (char)c;
  return buffer_append(p, &b, 1);
}

static int buffer_append_utf8(json_parser* p, uint32_t cp) {
  char out[4];
  uint32_t n;
  if (cp < 0x80) {
    out[0] = (char)cp;
    n = 1;
  } else if (cp < 0x800) {
    out[0] = (char)(0xC0 | (cp >> 6));
    out[1] = (char)(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    out[0] = (char)(0xE0 | (cp >> 12));
    out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[2] = (char)(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    n = 4;
  }
  return buffer_append(p, out, n);
}

static int emit(json_parser* p, int type, const char* data, uint32_t length) {
  if (p->callback == NULL) return 0;
  if (data == NULL) data = "";
  return p->callback(p->userdata, type, data, length) ? JSON_ERROR_CALLBACK : 0;
}

static int emit_buffer(json_parser* p, int type) {
  return emit(p, type, p->buffer, p->buffer_used);
}

static void value_done(json_parser* p) { p->state = p->depth == 0 ? ST_END : ST_AFTER_VALUE; }

static int open_container(json_parser* p, unsigned char kind) {
  if (p->depth >= p->config.max_nesting) return JSON_ERROR_NESTING_LIMIT;
  p->stack[p->depth++] = kind;
  p->state = kind == JSON_OBJECT_BEGIN ? ST_OBJECT_FIRST : ST_ARRAY_FIRST;
  return emit(p, kind, NULL, 0);
}

static int close_container(json_parser* p, unsigned char kind) {
  if (p->depth == 0 || p->stack[p->depth - 1] != kind) return JSON_ERROR_UNEXPECTED_CHAR;
  p->depth--;
  value_done(p);
  return emit(p, kind == JSON_OBJECT_BEGIN ? JSON_OBJECT_END : JSON_ARRAY_END, NULL, 0);
}

static void start_string(json_parser* p, int is_key) {
  p->string_is_key = is_key;
  p->buffer_used = 0;
  p->high_surrogate = 0;
  p->state = ST_STRING;
}

/* The first byte of a value. */
static int begin_value(json_parser* p, unsigned char c) {
  switch (c) {
    case '{':
      return open_container(p, JSON_OBJECT_BEGIN);
    case '[':
      return open_container(p, JSON_ARRAY_BEGIN);
    case '"':
      start_string(p, 0);
      return 0;
    case 't':
      p->literal = "true";
      p->literal_type = JSON_TRUE;
      break;
    case 'f':
      p->literal = "false";
      p->literal_type = JSON_FALSE;
      break;
    case 'n':
      p->literal = "null";
      p->literal_type = JSON_NULL;
      break;
    default:
      if (c == '-' || is_digit(c)) {
        p->buffer_used = 0;
        p->number_is_float = 0;
        p->state = c == '-' ? ST_NUM_MINUS : (c == '0' ? ST_NUM_ZERO : ST_NUM_INT);
        return buffer_append_byte(p, c);
      }
      return JSON_ERROR_UNEXPECTED_CHAR;
  }
  p->literal_pos = 1;
  p->state = ST_LITERAL;
  return 0;
}

static int end_number(json_parser* p) {
  value_done(p);
  return emit_buffer(p, p->number_is_float ? JSON_FLOAT : JSON_INT);
}

static int end_string(json_parser* p) {
  if (p->string_is_key) {
    p->state = ST_COLON;
    return emit_buffer(p, JSON_KEY);
  }
  value_done(p);
  return emit_buffer(p, JSON_STRING);
}

/* Handles the fourth hex digit of a \uXXXX escape. */
static int end_unicode(json_parser* p) {
  uint32_t v = p->unicode_value;
  if (p->high_surrogate != 0) {
    if (v < 0xDC00 || v > 0xDFFF) return JSON_ERROR_LONE_SURROGATE;
    uint32_t cp = 0x10000 + ((p->high_surrogate - 0xD800) << 10) + (v - 0xDC00);
    p->high_surrogate = 0;
    p->state = ST_STRING;
    return buffer_append_utf8(p, cp);
  }
  if (v >= 0xD800 && v <= 0xDBFF) {
    p->high_surrogate = v;
    p->state = ST_SURROGATE_BACKSLASH;
    return 0;
  }
  if (v >= 0xDC00 && v <= 0xDFFF) return JSON_ERROR_LONE_SURROGATE;
  p->state = ST_STRING;
  return buffer_append_utf8(p, v);
}

int json_parser_string(json_parser* parser, const char* s, uint32_t length, uint32_t* processed) {
  if (parser == NULL || (s == NULL && length > 0)) {
    if (processed) *processed = 0;
    return JSON_ERROR_INVALID_ARGUMENT;
  }
  json_parser* p = parser;
  const unsigned char* in = (const unsigned char*)s;
  uint32_t i = 0;
  int rc = p->error;

  while (rc == 0 && i < length) {
    unsigned char c = in[i];
    switch (p->state) {
      case ST_VALUE:
      case ST_ARRAY_FIRST:
        if (is_ws(c)) {
          i++;
        } else if (c == ']' && p->state == ST_ARRAY_FIRST) {
          rc = close_container(p, JSON_ARRAY_BEGIN);
          if (rc == 0) i++;
        } else {
          rc = begin_value(p, c);
          if (rc == 0) i++;
        }
        break;

      case ST_OBJECT_FIRST:
      case ST_KEY:
        if (is_ws(c)) {
          i++;
        } else if (c == '"') {
          start_string(p, 1);
          i++;
        } else if (c == '}' && p->state == ST_OBJECT_FIRST) {
          rc = close_container(p, JSON_OBJECT_BEGIN);
          if (rc == 0) i++;
        } else {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
        }
        break;

      case ST_COLON:
        if (is_ws(c)) {
          i++;
        } else if (c == ':') {
          p->state = ST_VALUE;
          i++;
        } else {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
        }
        break;

      case ST_AFTER_VALUE:
        if (is_ws(c)) {
          i++;
        } else if (c == ',') {
          p->state = p->stack[p->depth - 1] == JSON_OBJECT_BEGIN ? ST_KEY : ST_VALUE;
          i++;
        } else if (c == ']') {
          rc = close_container(p, JSON_ARRAY_BEGIN);
          if (rc == 0) i++;
        } else if (c == '}') {
          rc = close_container(p, JSON_OBJECT_BEGIN);
          if (rc == 0) i++;
        } else {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
        }
        break;

      case ST_END:
        if (is_ws(c)) {
          i++;
        } else {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
        }
        break;

      case ST_STRING: {
        /* Copy the run of plain bytes in one go. */
        uint32_t start = i;
        while (i < length && in[i] != '"' && in[i] != '\\' && in[i] >= 0x20) i++;
        if (i > start) rc = buffer_append(p, s + start, i - start);
        if (rc != 0) {
          i = start;
          break;
        }
        if (i == length) break;
        c = in[i];
        if (c == '"') {
          rc = end_string(p);
          if (rc == 0) i++;
        } else if (c == '\\') {
          p->state = ST_ESCAPE;
          i++;
        } else {
          rc = JSON_ERROR_BAD_CHAR;
        }
        break;
      }

      case ST_ESCAPE:
        if (c == 'u') {
          p->unicode_value = 0;
          p->unicode_digits = 0;
          p->state = ST_UNICODE;
          i++;
        } else if (short_escape(c) < 0) {
          rc = JSON_ERROR_BAD_ESCAPE;
        } else {
          rc = buffer_append_byte(p, (unsigned char)short_escape(c));
          p->state = ST_STRING;
          if (rc == 0) i++;
        }
        break;

      case ST_UNICODE: {
        int h = hex_value(c);
        if (h < 0) {
          rc = JSON_ERROR_BAD_ESCAPE;
          break;
        }
        p->unicode_value = (p->unicode_value << 4) | (uint32_t)h;
        if (++p->unicode_digits == 4) rc = end_unicode(p);
        if (rc == 0) i++;
        break;
      }

      case ST_SURROGATE_BACKSLASH:
        if (c != '\\') {
          rc = JSON_ERROR_LONE_SURROGATE;
        } else {
          p->state = ST_SURROGATE_U;
          i++;
        }
        break;

      case ST_SURROGATE_U:
        if (c != 'u') {
          rc = JSON_ERROR_LONE_SURROGATE;
        } else {
          p->unicode_value = 0;
          p->unicode_digits = 0;
          p->state = ST_UNICODE;
          i++;
        }
        break;

      case ST_LITERAL:
        if (c != (unsigned char)p->literal[p->literal_pos]) {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
          break;
        }
        i++;
        if (p->literal[++p->literal_pos] == '\0') {
          value_done(p);
          rc = emit(p, p->literal_type, NULL, 0);
        }
        break;

      case ST_NUM_MINUS:
        if (!is_digit(c)) {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
          break;
        }
        p->state = c == '0' ? ST_NUM_ZERO : ST_NUM_INT;
        rc = buffer_append_byte(p, c);
        if (rc == 0) i++;
        break;

      case ST_NUM_INT:
      case ST_NUM_FRAC:
      case ST_NUM_EXP_DIGITS: {
        uint32_t start = i;
        while (i < length && is_digit(in[i])) i++;
        if (i > start) {
          rc = buffer_append(p, s + start, i - start);
          if (rc != 0) {
            i = start;
            break;
          }
        }
        if (i == length) break;
        c = in[i];
        if (p->state != ST_NUM_EXP_DIGITS && (c == 'e' || c == 'E')) {
          p->number_is_float = 1;
          p->state = ST_NUM_EXP;
          rc = buffer_append_byte(p, c);
          if (rc == 0) i++;
        } else if (p->state == ST_NUM_INT && c == '.') {
          p->number_is_float = 1;
          p->state = ST_NUM_DOT;
          rc = buffer_append_byte(p, c);
          if (rc == 0) i++;
        } else {
          rc = end_number(p); /* the byte is handled again in the new state */
        }
        break;
      }

      case ST_NUM_ZERO:
        if (c == '.' || c == 'e' || c == 'E') {
          p->number_is_float = 1;
          p->state = c == '.' ? ST_NUM_DOT : ST_NUM_EXP;
          rc = buffer_append_byte(p, c);
          if (rc == 0) i++;
        } else {
          rc = end_number(p);
        }
        break;

      case ST_NUM_DOT:
        if (!is_digit(c)) {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
          break;
        }
        p->state = ST_NUM_FRAC;
        rc = buffer_append_byte(p, c);
        if (rc == 0) i++;
        break;

      case ST_NUM_EXP:
      case ST_NUM_EXP_SIGN:
        if (is_digit(c)) {
          p->state = ST_NUM_EXP_DIGITS;
        } else if (p->state == ST_NUM_EXP && (c == '+' || c == '-')) {
          p->state = ST_NUM_EXP_SIGN;
        } else {
          rc = JSON_ERROR_UNEXPECTED_CHAR;
          break;
        }
        rc = buffer_append_byte(p, c);
        if (rc == 0) i++;
        break;

      default:
        rc = JSON_ERROR_UNEXPECTED_CHAR;
        break;
    }
  }

  if (rc != 0) p->error = rc;
  if (processed) *processed = i;
  return rc;
}

/* ------------------------------------------------------------------------ */
/* Printer                                                                  */

int json_print_init(json_printer* printer, json_printer_callback callback, void* userdata) {
  if (printer == NULL || callback == NULL) return JSON_ERROR_INVALID_ARGUMENT;
  memset(printer, 0, sizeof(*printer));
  printer->callback = callback;
  printer->userdata = userdata;
  return 0;
}

int json_print_free(json_printer* printer) {
  if (printer == NULL) return JSON_ERROR_INVALID_ARGUMENT;
  free(printer->stack);
  printer->stack = NULL;
  printer->stack_size = 0;
  printer->depth = 0;
  return 0;
}

static int out(json_printer* pr, const char* s, uint32_t n) {
  if (pr->error) return pr->error;
  if (n == 0) return 0;
  if (pr->callback(pr->userdata, s, n) != 0) pr->error = JSON_ERROR_CALLBACK;
  return pr->error;
}

/* A line break and two spaces per open container. */
static int out_newline_indent(json_printer* pr) {
  static const char spaces[] = "\n                                                                ";
  uint32_t want = pr->depth * 2;
  uint32_t chunk = (uint32_t)sizeof(spaces) - 2;
  int rc = out(pr, spaces, 1 + (want < chunk ? want : chunk));
  want = want < chunk ? 0 : want - chunk;
  while (rc == 0 && want > 0) {
    uint32_t n = want < chunk ? want : chunk;
    rc = out(pr, spaces + 1, n);
    want -= n;
  }
  return rc;
}

/* Separator before an element of the innermost container. */
static int out_separator(json_printer* pr) {
  int rc = pr->enter ? 0 : out(pr, ",", 1);
  pr->enter = 0;
  return rc ? rc : out_newline_indent(pr);
}

static int out_escaped(json_printer* pr, const char* data, uint32_t length) {
  static const char hex[] = "0123456789abcdef";
  const unsigned char* s = (const unsigned char*)data;
  int rc = out(pr, "\"", 1);
  uint32_t start = 0;
  for (uint32_t i = 0; rc == 0 && i < length; i++) {
    unsigned char c = s[i];
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    rc = out(pr, data + start, i - start);
    start = i + 1;
    if (rc != 0) break;
    char esc[6] = {'\\', 0, 0, 0, 0, 0};
    uint32_t n = 2;
    switch (c) {
      case '"':
        esc[1] = '"';
        break;
      case '\\':
        esc[1] = '\\';
        break;
      case '\b':
        esc[1] = 'b';
        break;
      case '\f':
        esc[1] = 'f';
        break;
      case '\n':
        esc[1] = 'n';
        break;
      case '\r':
        esc[1] = 'r';
        break;
      case '\t':
        esc[1] = 't';
        break;
      default:
        esc[1] = 'u';
        esc[2] = '0';
        esc[3] = '0';
        esc[4] = hex[c >> 4];
        esc[5] = hex[c & 0xF];
        n = 6;
        break;
    }
    rc = out(pr, esc, n);
  }
  if (rc == 0) rc = out(pr, data + start, length - start);
  if (rc == 0) rc = out(pr, "\"", 1);
  return rc;
}

/* Whether data[0..length) is a number by the JSON grammar. */
static int valid_number(const char* data, uint32_t length) {
  const unsigned char* s = (const unsigned char*)data;
  uint32_t i = 0;
  if (data == NULL || length == 0) return 0;
  if (s[i] == '-') i++;
  if (i == length || !is_digit(s[i])) return 0;
  if (s[i] == '0') {
    i++;
  } else {
    while (i < length && is_digit(s[i])) i++;
  }
  if (i < length && s[i] == '.') {
    i++;
    if (i == length || !is_digit(s[i])) return 0;
    while (i < length && is_digit(s[i])) i++;
  }
  if (i < length && (s[i] == 'e' || s[i] == 'E')) {
    i++;
    if (i < length && (s[i] == '+' || s[i] == '-')) i++;
    if (i == length || !is_digit(s[i])) return 0;
    while (i < length && is_digit(s[i])) i++;
  }
  return i == length;
}

static int push_container(json_printer* pr, unsigned char kind) {
  if (pr->depth == pr->stack_size) {
    uint32_t size = pr->stack_size ? pr->stack_size * 2 : 16;
    if (size <= pr->stack_size) return JSON_ERROR_NO_MEMORY;
    unsigned char* grown = (unsigned char*)realloc(pr->stack, size);
    if (grown == NULL) return JSON_ERROR_NO_MEMORY;
    pr->stack = grown;
    pr->stack_size = size;
  }
  pr->stack[pr->depth++] = kind;
  return 0;
}

int json_print_pretty(json_printer* printer, int type, const char* data, uint32_t length) {
  json_printer* pr = printer;
  if (pr == NULL || pr->callback == NULL) return JSON_ERROR_INVALID_ARGUMENT;
  if (pr->error) return pr->error;
  if ((type == JSON_STRING || type == JSON_KEY) && data == NULL && length > 0)
    return JSON_ERROR_INVALID_ARGUMENT;
  unsigned char top = pr->depth ? pr->stack[pr->depth - 1] : 0;
  int rc = 0;

  switch (type) {
    case JSON_KEY:
      if (top != JSON_OBJECT_BEGIN || pr->after_key) return JSON_ERROR_PRINT_ORDER;
      rc = out_separator(pr);
      if (rc == 0) rc = out_escaped(pr, data ? data : "", length);
      if (rc == 0) rc = out(pr, ": ", 2);
      pr->after_key = 1;
      return rc;

    case JSON_ARRAY_END:
    case JSON_OBJECT_END: {
      unsigned char kind = type == JSON_ARRAY_END ? JSON_ARRAY_BEGIN : JSON_OBJECT_BEGIN;
      if (top != kind || pr->after_key) return JSON_ERROR_PRINT_ORDER;
      pr->depth--;
      if (!pr->enter) rc = out_newline_indent(pr);
      if (rc == 0) rc = out(pr, type == JSON_ARRAY_END ? "]" : "}", 1);
      pr->enter = 0;
      if (pr->depth == 0) pr->done = 1;
      return rc;
    }

    case JSON_ARRAY_BEGIN:
    case JSON_OBJECT_BEGIN:
    case JSON_INT:
    case JSON_FLOAT:
    case JSON_STRING:
    case JSON_TRUE:
    case JSON_FALSE:
    case JSON_NULL:
      break;

    default:
      return JSON_ERROR_INVALID_ARGUMENT;
  }

  /* A value: is it allowed here? */
  if (top == 0) {
    if (pr->done) return JSON_ERROR_PRINT_ORDER;
  } else if (top == JSON_OBJECT_BEGIN && !pr->after_key) {
    return JSON_ERROR_PRINT_ORDER;
  }
  if ((type == JSON_INT || type == JSON_FLOAT) && !valid_number(data, length))
    return JSON_ERROR_BAD_NUMBER;
  if (type == JSON_ARRAY_BEGIN || type == JSON_OBJECT_BEGIN) {
    rc = push_container(pr, (unsigned char)type);
    if (rc != 0) return rc;
    pr->depth--; /* the separator is indented at the outer level */
  }
  if (top == JSON_ARRAY_BEGIN) rc = out_separator(pr);
  pr->after_key = 0;
  if (rc != 0) return rc;

  switch (type) {
    case JSON_ARRAY_BEGIN:
    case JSON_OBJECT_BEGIN:
      pr->depth++;
      pr->enter = 1;
      return out(pr, type == JSON_ARRAY_BEGIN ? "[" : "{", 1);
    case JSON_INT:
    case JSON_FLOAT:
      rc = out(pr, data, length);
      break;
    case JSON_STRING:
      rc = out_escaped(pr, data ? data : "", length);
      break;
    case JSON_TRUE:
      rc = out(pr, "true", 4);
      break;
    case JSON_FALSE:
      rc = out(pr, "false", 5);
      break;
    default:
      rc = out(pr, "null", 4);
      break;
  }
  pr->enter = 0;
  if (pr->depth == 0) pr->done = 1;
  return rc;
}
