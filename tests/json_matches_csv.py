#!/usr/bin/env python3
# Checks a JSON Lines export against the CSV export of the same query: keys, row count and every value.
import json
import sys


def csv_rows(data):
    """RFC 4180 with LF line ends; an unquoted empty field is NULL (None), "" the empty string."""
    rows, row, i = [], [], 0
    while i < len(data):
        if data[i] == '"':
            j, field = i + 1, []
            while True:
                k = data.index('"', j)
                field.append(data[j:k])
                if data[k + 1:k + 2] == '"':
                    field.append('"')
                    j = k + 2
                else:
                    i = k + 1
                    break
            row.append(''.join(field))
        else:
            k = i
            while k < len(data) and data[k] not in ',\n':
                k += 1
            row.append(data[i:k] if k > i else None)
            i = k
        if i < len(data) and data[i] == '\n':
            rows.append(row)
            row = []
        i += 1
    return rows


def main():
    with open(sys.argv[1], 'rb') as f:
        lines = f.read().decode('utf-8').split('\n')[:-1]  # U+2028 in a value is no line end
    with open(sys.argv[2], 'rb') as f:
        table = csv_rows(f.read().decode('utf-8', errors='replace'))
    header, rows = table[0], table[1:]
    objects = [json.loads(line, object_pairs_hook=lambda pairs: pairs) for line in lines]
    assert len(objects) == len(rows), (len(objects), len(rows))
    for pairs, row in zip(objects, rows):
        assert [key for key, _ in pairs] == header, (pairs, header)
        for (key, value), text in zip(pairs, row):
            if value is None or text is None:
                assert value is None and text is None, (key, value, text)
            elif isinstance(value, bool) or not isinstance(value, (int, float)):
                assert value == text, (key, value, text)
            else:
                assert value == float(text) or str(value) == text, (key, value, text)
    print('%d rows match' % len(rows))


main()
