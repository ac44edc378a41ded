# Reads a table with python3-dbf and with python3-dbfread (two independent
# implementations) and prints every live row as one line per library:
#   dbf|v1|v2|...    dbfread|v1|v2|...
# interop_read.py TABLE.dbf
import datetime
import decimal
import sys

import dbf
import dbfread


def text(v):
    if v is None or v is dbf.Null:
        return 'NULL'
    if isinstance(v, bytes):
        return v.decode('cp1251')
    if isinstance(v, str):
        return v.rstrip()
    if isinstance(v, bool):
        return 'T' if v else 'F'
    if isinstance(v, (datetime.datetime, datetime.date)):
        return v.isoformat()
    if isinstance(v, (float, decimal.Decimal)):
        return ('%.4f' % v).rstrip('0').rstrip('.')
    return str(v)


path = sys.argv[1]
t = dbf.Table(path)
t.open(dbf.READ_ONLY)
names = [n for n in t.field_names]
for r in t:
    if dbf.is_deleted(r):
        continue
    print('dbf|' + '|'.join(text(r[n]) for n in names).replace('\r\n', '~'))
t.close()
print('count|%d' % len([r for r in dbfread.DBF(path, encoding='cp1251')]))
for r in dbfread.DBF(path, encoding='cp1251', char_decode_errors='strict'):
    print('dbfread|' + '|'.join(text(v) for k, v in r.items() if k.upper() != '_NULLFLAGS').replace('\r\n', '~'))
