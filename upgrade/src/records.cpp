#include "records.h"

#include "common/le_bytes.h"

#include <cstring>

namespace upg {

namespace {

uint32_t word(const uint8_t *p, int i) { return le::load32(p + 4 * i); }
void put_word(uint8_t *p, int i, uint32_t v) { le::store32(p + 4 * i, v); }

void copy_name(char *field, const uint8_t *p) { std::memcpy(field, p, kPitNameBytes); }

size_t name_length(const char *field)
{
    size_t n = 0;
    while (n < kPitNameBytes && field[n] != '\0')
        ++n;
    return n;
}

} // namespace

t_pit_index decode_pit_index(const uint8_t *p) { return {word(p, 0), word(p, 1), word(p, 2), word(p, 3)}; }

void encode_pit_index(uint8_t *p, const t_pit_index &e)
{
    put_word(p, 0, e.u4NandSize);
    put_word(p, 1, e.u4OffsetFromBin);
    put_word(p, 2, e.u4PrivateData1);
    put_word(p, 3, e.u4PrivateData2);
}

t_bit_index decode_bit_index(const uint8_t *p) { return {word(p, 0), word(p, 1), word(p, 2), word(p, 3)}; }

void encode_bit_index(uint8_t *p, const t_bit_index &e)
{
    put_word(p, 0, e.u4BitOffsetFromBin);
    put_word(p, 1, e.u4BitSIze);
    put_word(p, 2, e.u4Reserved1);
    put_word(p, 3, e.u4Reserved2);
}

// In the image a BIT record reads id, image offset, length, partition offset.
t_bit_entry decode_bit_record(const uint8_t *p)
{
    t_bit_entry e;
    e.i4PartId = static_cast<int32_t>(word(p, 0));
    e.u4ImageOffset = word(p, 1);
    e.u4Length = word(p, 2);
    e.u4PartOffset = word(p, 3);
    e.u4Extra = word(p, 4);
    return e;
}

void encode_bit_record(uint8_t *p, const t_bit_entry &e)
{
    put_word(p, 0, static_cast<uint32_t>(e.i4PartId));
    put_word(p, 1, e.u4ImageOffset);
    put_word(p, 2, e.u4Length);
    put_word(p, 3, e.u4PartOffset);
    put_word(p, 4, e.u4Extra);
}

t_pit_entry_old decode_old_pit_record(const uint8_t *p)
{
    t_pit_entry_old e;
    copy_name(e.acName, p);
    e.i4PartId = static_cast<int32_t>(word(p, 4));
    e.u4Flags = word(p, 5);
    e.u4Offset = word(p, 6);
    e.u4Size = word(p, 7);
    return e;
}

t_pit_entry_ntbl decode_ntbl_pit_record(const uint8_t *p)
{
    t_pit_entry_ntbl e;
    copy_name(e.acName, p);
    e.i4PartId = static_cast<int32_t>(word(p, 4));
    e.u4Flags = word(p, 5);
    e.u4Offset = word(p, 6);
    e.u4Size = word(p, 7);
    e.u4Extra1 = word(p, 8);
    e.u4Extra2 = word(p, 9);
    return e;
}

void encode_pit_record(uint8_t *p, const char *name, int32_t id, uint32_t flags, uint32_t offset, uint32_t size)
{
    std::memset(p, 0, kPitNameBytes);
    std::memcpy(p, name, strnlen(name, kPitNameBytes));
    put_word(p, 4, static_cast<uint32_t>(id));
    put_word(p, 5, flags);
    put_word(p, 6, offset);
    put_word(p, 7, size);
}

t_upg_status decode_status(const uint8_t *p)
{
    t_upg_status s;
    s.u4_head_sign = word(p, 0);
    s.u4_progress = word(p, 1);
    for (int i = 0; i < kStatusIds; ++i)
        s.au4_part_id[i] = word(p, 2 + i);
    s.u4_part_count = word(p, 34);
    s.u4_tail_sign = word(p, 35);
    std::memcpy(s.au1_reserved, p + 144, sizeof s.au1_reserved);
    return s;
}

void encode_status(uint8_t *p, const t_upg_status &s)
{
    put_word(p, 0, s.u4_head_sign);
    put_word(p, 1, s.u4_progress);
    for (int i = 0; i < kStatusIds; ++i)
        put_word(p, 2 + i, s.au4_part_id[i]);
    put_word(p, 34, s.u4_part_count);
    put_word(p, 35, s.u4_tail_sign);
    std::memcpy(p + 144, s.au1_reserved, sizeof s.au1_reserved);
}

bool words_equal(const uint8_t *p, size_t n, uint32_t w)
{
    for (size_t i = 0; i < n; ++i)
        if (le::load32(p + 4 * i) != w)
            return false;
    return true;
}

void fill_words(uint8_t *p, size_t n, uint32_t w)
{
    for (size_t i = 0; i < n; ++i)
        le::store32(p + 4 * i, w);
}

bool name_is(const char *field, const char *name)
{
    size_t n = std::strlen(name);
    return n <= kPitNameBytes && name_length(field) == n && std::memcmp(field, name, n) == 0;
}

bool name_contains(const char *field, const char *part)
{
    size_t len = name_length(field), n = std::strlen(part);
    for (size_t i = 0; i + n <= len; ++i)
        if (std::memcmp(field + i, part, n) == 0)
            return true;
    return false;
}

bool name_starts_with(const char *field, const char *prefix)
{
    size_t n = std::strlen(prefix);
    return n <= name_length(field) && std::memcmp(field, prefix, n) == 0;
}

} // namespace upg
