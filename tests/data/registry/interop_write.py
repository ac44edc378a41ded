# Writes a Visual FoxPro table with python3-dbf (an independent
# implementation) for the engine to read: interop_write.py FOLDER
import datetime
import os
import sys

import dbf

path = os.path.join(sys.argv[1], 'pyw.dbf')
# python3-dbf numbers null bits by field position where Visual FoxPro hands
# them out to nullable fields in order; with the one nullable field first
# both numberings agree.
t = dbf.Table(path, 'opt C(10) NULL; name C(20); note M; born D; seen T; amount N(10,2); '
              'code N(8,0); flag L; cnt I', dbf_type='vfp', codepage='cp1251')
t.open(dbf.READ_WRITE)
t.append(('да', 'Иванов', 'Заметка: строка\r\nвторая', datetime.date(1980, 2, 29),
          datetime.datetime(2021, 3, 4, 5, 6, 7), 1234.5, 42, True, -7))
t.append((dbf.Null, 'Ёлкин', '', datetime.date(2000, 1, 1), datetime.datetime(2000, 1, 1, 0, 0, 0),
          -0.25, -3, False, 2147483646))
t.append((dbf.Null, "O'Brien", 'я' * 3000, None, None, 0, 0, None, 0))
t.append(('x', 'Удалённый', 'x', datetime.date(2001, 1, 1), None, 1, 1, True, 1))
dbf.delete(t[3])
t.close()

# A FoxPro 2.x table (0xF5: no backlink, memo pointers as ten digits).
old = dbf.Table(os.path.join(sys.argv[1], 'old.dbf'), 'name C(10); note M; born D; n N(6,1); ok L',
                dbf_type='fp', codepage='cp1251')
old.open(dbf.READ_WRITE)
old.append(('Иван', 'длинная заметка', datetime.date(1999, 12, 31), -12.5, True))
old.append(('Пётр', '', None, 0, False))
old.close()
