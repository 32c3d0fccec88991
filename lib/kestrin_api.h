/*
 * kestrin_api.h - the link-level names of the library's C functions. Every
 * public header includes it first; a caller never needs to.
 *
 * Code calls the functions by the names the headers declare (base64_encode,
 * ldif_parse_line, ...). Those names are generic and some are taken by other
 * libraries with other signatures (libldap has its own ldif_parse_line), so
 * each one is mapped here to its symbol, the same name with the prefix
 * "kestrin_". Callers compile unchanged and link against the prefixed
 * symbols, and a program may use this library next to such a library in any
 * link order. Only dlsym() and debuggers see the prefixed names.
 *
 * Every function a public header declares must be listed here: the test
 * suite compares the symbols libkestrin.so exports with the functions the
 * headers declare, so a function added without its line fails it.
 *
 * KESTRIN_API_BEGIN / KESTRIN_API_END enclose the declarations of each
 * header: the library is compiled with hidden visibility, and only what they
 * enclose is exported from libkestrin.so.
 */
#ifndef KESTRIN_API_H
#define KESTRIN_API_H

#if defined(__GNUC__) || defined(__clang__)
#define KESTRIN_API_BEGIN _Pragma("GCC visibility push(default)")
#define KESTRIN_API_END _Pragma("GCC visibility pop")
#else
#define KESTRIN_API_BEGIN
#define KESTRIN_API_END
#endif

/* No exception leaves a function of the library: C++ callers see that in the
 * type. */
#ifdef __cplusplus
#define KESTRIN_NOEXCEPT noexcept
#else
#define KESTRIN_NOEXCEPT
#endif

/* codec/base64.h */
#define base64_encode kestrin_base64_encode
#define base64_decode kestrin_base64_decode
#define base64_encoded_size kestrin_base64_encoded_size
#define base64_decode_n kestrin_base64_decode_n
#define base64_stream_init kestrin_base64_stream_init
#define base64_stream_decode kestrin_base64_stream_decode
#define base64_stream_decode_end kestrin_base64_stream_decode_end
#define base64_stream_encode kestrin_base64_stream_encode
#define base64_stream_encode_end kestrin_base64_stream_encode_end

/* codec/hex.h */
#define hex_encode kestrin_hex_encode
#define hex_digit_value kestrin_hex_digit_value
#define hex_decode kestrin_hex_decode

/* codec/sha1.h */
#define sha1_init kestrin_sha1_init
#define sha1_update kestrin_sha1_update
#define sha1_final kestrin_sha1_final
#define sha1_transform kestrin_sha1_transform
#define sha1_file kestrin_sha1_file
#define sha1_buffer kestrin_sha1_buffer

/* ekva/csv.h */
#define csv_quote kestrin_csv_quote
#define csv_join kestrin_csv_join
#define csv_split kestrin_csv_split
#define csv_parse_line kestrin_csv_parse_line
#define csv_next_record kestrin_csv_next_record
#define csv_read_record kestrin_csv_read_record

/* ekva/datetime.h */
#define datetime_parse kestrin_datetime_parse

/* ekva/strlist.h */
#define strlist_find kestrin_strlist_find
#define strlist_contains kestrin_strlist_contains
#define strlist_contains_nocase kestrin_strlist_contains_nocase
#define strlist_count kestrin_strlist_count
#define strlist_dup kestrin_strlist_dup
#define strlist_append kestrin_strlist_append
#define strlist_append_unique kestrin_strlist_append_unique
#define strlist_append_text kestrin_strlist_append_text
#define strlist_join kestrin_strlist_join
#define strlist_split kestrin_strlist_split
#define strlist_split_words kestrin_strlist_split_words
#define strlist_push kestrin_strlist_push
#define strlist_set_push kestrin_strlist_set_push
#define strlist_sort kestrin_strlist_sort
#define strcmp_number kestrin_strcmp_number
#define strcmp_dotted_quad kestrin_strcmp_dotted_quad
#define strlist_free kestrin_strlist_free

/* ekva/ekva.h */
#define ekva_parse_header kestrin_ekva_parse_header
#define ekva_create_mode kestrin_ekva_create_mode
#define ekva_create kestrin_ekva_create
#define ekva_add kestrin_ekva_add
#define ekva_count kestrin_ekva_count
#define ekva_count_key kestrin_ekva_count_key
#define ekva_get kestrin_ekva_get
#define ekva_get_nth kestrin_ekva_get_nth
#define ekva_get_values kestrin_ekva_get_values
#define ekva_get_key kestrin_ekva_get_key
#define ekva_copy kestrin_ekva_copy
#define ekva_dup kestrin_ekva_dup
#define ekva_free kestrin_ekva_free
#define ekva_set_push kestrin_ekva_set_push
#define ekva_set_find kestrin_ekva_set_find
#define ekva_set_find_nth kestrin_ekva_set_find_nth
#define ekva_set_count kestrin_ekva_set_count
#define ekva_set_sort kestrin_ekva_set_sort
#define ekva_set_sort_cmp kestrin_ekva_set_sort_cmp
#define ekva_set_free kestrin_ekva_set_free
#define ekva_print kestrin_ekva_print
#define ekva_fprint kestrin_ekva_fprint
#define ekva_to_kv_text kestrin_ekva_to_kv_text
#define ekva_from_kv_text kestrin_ekva_from_kv_text
#define ekva_to_csv_line kestrin_ekva_to_csv_line

/* util/str.h */
#define str_trim kestrin_str_trim
#define str_first_word kestrin_str_first_word
#define str_unquote kestrin_str_unquote
#define str_split_key_value kestrin_str_split_key_value
#define str_char_positions kestrin_str_char_positions
#define path_extension kestrin_path_extension
#define str_is_dotted_quad kestrin_str_is_dotted_quad

/* util/file.h */
#define file_read_all kestrin_file_read_all
#define file_read_lines kestrin_file_read_lines
#define stream_read_words kestrin_stream_read_words
#define file_copy kestrin_file_copy
#define file_replace kestrin_file_replace

/* ldif/ldif.h */
#define ldif_write_attr kestrin_ldif_write_attr
#define ldif_write_attr_wrap kestrin_ldif_write_attr_wrap
#define ldif_fwrite_attr kestrin_ldif_fwrite_attr
#define ldif_fwrite_attr_wrap kestrin_ldif_fwrite_attr_wrap
#define ldif_parse_line kestrin_ldif_parse_line
#define ldif_set_file_references kestrin_ldif_set_file_references
#define ldif_reader_create kestrin_ldif_reader_create
#define ldif_reader_feed kestrin_ldif_reader_feed
#define ldif_reader_next kestrin_ldif_reader_next
#define ldif_reader_in_entry kestrin_ldif_reader_in_entry
#define ldif_reader_free kestrin_ldif_reader_free
#define ldif_record_reader_create kestrin_ldif_record_reader_create
#define ldif_record_reader_feed kestrin_ldif_record_reader_feed
#define ldif_record_reader_next kestrin_ldif_record_reader_next
#define ldif_record_reader_read kestrin_ldif_record_reader_read
#define ldif_record_reader_free kestrin_ldif_record_reader_free
#define ldif_record_free kestrin_ldif_record_free
#define ldif_write_record kestrin_ldif_write_record
#define ldif_next_entry kestrin_ldif_next_entry
#define ldif_read_entry kestrin_ldif_read_entry
#define ldif2ekva kestrin_ldif2ekva
#define ldif2ekva_set kestrin_ldif2ekva_set
#define ldif2ekva_set_append kestrin_ldif2ekva_set_append
#define ldif_file2ekva_set kestrin_ldif_file2ekva_set
#define ldif_file2ekva_set_append kestrin_ldif_file2ekva_set_append
#define ldif_entry_count_attr kestrin_ldif_entry_count_attr
#define ldif_entry_get_attr kestrin_ldif_entry_get_attr
#define ldif_entry_get_attr_values kestrin_ldif_entry_get_attr_values
#define ekva2ldif kestrin_ekva2ldif
#define ekva2ldif_wrap kestrin_ekva2ldif_wrap

#endif
