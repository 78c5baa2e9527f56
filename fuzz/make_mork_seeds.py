#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes folder summaries (.msf, Mork) into the directory given, as seeds for
the Mork reader's fuzz target: the folder-information row in its table, by
reference, updated in groups (one aborted), cut, and a large summary of 8000
messages."""
import sys
from pathlib import Path

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
head = ('// <!-- <mdb:mork:z v="1.4"/> -->\n< <(a=c)> // (f=iso-8859-1)\n'
        '  (80=ns:msg:db:row:scope:msgs:all)(81=subject)(82=message-id)\n'
        '  (9F=ns:msg:db:row:scope:dbfolderinfo:all)(A0=ns:msg:db:table:kind:dbfolderinfo)\n'
        '  (A1=numMsgs)(A2=numNewMsgs)(A3=mailboxName)>\n'
        '\n<(90=Re: \\) odd $41nd \\\n continued)(91=<a@b>)(92=1b)>\n'
        '{1:^80 {(k^BF:c)(s=9)} [1(^81^90)(^82^91)] [2(^81=x)]}\n')
row = '{1:^9F {(k^A0:c)(s=9)1:m}\n  [1(^A1=1c)(^A2=0)(^A3=Inbox)]}\n'
seeds = {
    'table': head + row,
    'groups': head + row + '@$${2{@[1:^9F(^A1=2a)]@$$}2}@\n@$${3{@[1:^9F(^A1=99)]@$$}~~}@\n',
    'reference': head + '[1:^9F(^A1^92)]\n[-1:^9F(^A3=x)]\n',
}
big = head + '<' + ''.join('(%X=subject number %d)' % (0x1000 + i, i) for i in range(8000)) + '>\n'
big += '{1:^80 ' + ''.join('[%X(^81^%X)]' % (i + 1, 0x1000 + i) for i in range(8000)) + '}\n' + row
seeds['large'] = big
for name, text in seeds.items():
    (out / name).write_text(text)
