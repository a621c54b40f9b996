#!/usr/bin/env python3
"""Writes the statement splitter fuzzer's generated corpus: COUNT inputs per dialect (1,000 by default) into
tests/fuzz_corpus_splitter/, each a dialect byte ('0' Generic ... '5' Virtuoso, as the fuzzer reads it) and
a few statements, triggers, procedures, rules, bodies and comments of that dialect, joined and cut at random.
The seed is fixed: running it again writes the same files."""
import os
import random
import sys

COMMON = [
    "select 1;",
    "select 'a;b', \"c;d\" from t;",
    "select 'it''s; fine' as x;",
    "insert into t values (1, 'x; y');",
    "update t set a = 1 where b = 2;",
    "select (1 + 2) * 3 as n;",
    "-- a comment; with a semicolon\n",
    "/* block; comment */",
    "select 1 /* one; two */ + 1;",
    "select 2 -- note; more\n + 1;",
    ";",
    "   ;  -- nothing here;\n",
    "select 'unterminated; string",
    "select \"open; name",
    "/* open; comment",
]

DIALECTS = {
    "generic": COMMON,
    "postgres": COMMON + [
        "create rule r as on update to t do also (select 1; delete from audit; select 2);",
        "CREATE RULE r2 AS\n    ON INSERT TO public.t DO ( INSERT INTO public.log (id) VALUES (new.id);\n DELETE FROM public.q\n  WHERE (q.id = new.id);\n);",
        "create function f() returns int language plpgsql as $$ begin return 1; end $$;",
        "create function g() returns text as $body$ select 'a;b' $x$ ; $body$ language sql;",
        "create procedure p() begin atomic select case when true then 1 end; insert into t values (1); end;",
        "create or replace function h(x int) returns int language sql\nbegin atomic\n  select x * 2;\nend;",
        "select E'a\\';b' as e;",
        "select 1 as a$b$c;",
        "select $1, $2 from t where (a = ';');",
        "select 1 /* a /* b; */ c */ ;",
        "select (select count(*) from t where (x in (1, 2)));",
        "select $q$dollar; $$ quoted$q$;",
        "select ((1;",
        "select 1);select (2);",
        "select array[1, 2][1];",
        "select $tag$ open; body",
    ],
    "mariadb": COMMON + [
        "DELIMITER $$\nselect 1 as a$$\nselect 2 as b$$\nDELIMITER ;\n",
        "DELIMITER //\ncreate procedure p()\nbegin\n  select 1;\n  select 2;\nend//\nDELIMITER ;\n",
        "select \"a\\\";b\", `c;``d`; # note;\n",
        "select 5--3;",
        "select 5 -- 3;\n;",
        "/*!50003 create trigger t before insert on x for each row set @a = 1 */;",
        "/*M!999999\\- enable the sandbox mode */\n",
        "/*!40101 SET NAMES utf8mb4 */;",
        "select 1 /*\n\\q\n*/;",
        "select 'C:\\\\';",
        "select 'back\\'slash; here';",
        "select 1 /*! + 1 */;",
        "# comment /* not a comment\n",
    ],
    "sqlite": COMMON + [
        "create trigger tr after update on t begin update t set end = 1 where id = new.id; delete from log; end;",
        "CREATE TRIGGER tr2 AFTER INSERT ON t BEGIN\n  UPDATE t SET x = new.end WHERE id = new.id;\n  DELETE FROM log;\nEND;",
        "create trigger tr3 before delete on t begin update t set begin = 0; end;",
        "create temp trigger tr4 after insert on t when case new.a when 1 then 1 end begin\n  insert into log values (case when new.s like '%;%' then 'semi; colon' else 'plain' end);\nend;",
        "create temporary trigger tr5 after insert on t begin select 1; select case when 1 then 2 end; end;",
        "select [a;b], `c;d`, \"e;f\" from t;",
        "create table [odd;name](\"col;x\" integer, `b;q` text);",
        "explain query plan select 1;",
        "create trigger tr6 after insert on t begin insert into log values (new.id); end\n;",
        "create view v as select 1 as begin, 2 as end;",
        "create trigger tr7 after insert on t begin select 1; -- end;\n end;",
        "create trigger tr8 after insert on t begin select 1; /* end; */ end;",
        "select [open; bracket",
    ],
    "sqlserver": COMMON + [
        "select [a]];b] from t;",
        "select 1 /* x /* ; */ */;",
        "create table [x;y] ([a b] int);",
        "select N'a;b';",
        "select [open; name",
    ],
    "virtuoso": COMMON + [
        "create procedure p (in n int) { declare r int; r := n * 2; return r; };",
        "create procedure q (in n int)\n{\n  if (n > 0)\n  {\n    return 1;\n  }\n  return 0;\n};",
        "create procedure r () { declare s varchar; s := '}; {'; return s; };",
        "create procedure w () { -- } ;\n return 1; /* } ; */ };",
        "select 'a\\';b' as e;",
        "select {fn ucase('a;b')};",
        "create procedure u () { declare x int; x := 1; };",
        "select 1 } ; select { 2;",
        "create procedure v () { { { return 1; } } ;",
    ],
}
ORDER = ["generic", "postgres", "mariadb", "sqlite", "sqlserver", "virtuoso"]
SEPARATORS = [" ", "\n", "\n\n", "  \n", "\t", "\r\n"]


def vary(fragment, rng):
    """Changes a fragment a little: a line break at a blank, a word's case, or its end cut off."""
    roll = rng.random()
    if roll < 0.2 and " " in fragment:
        blanks = [i for i, c in enumerate(fragment) if c == " "]
        at = rng.choice(blanks)
        fragment = fragment[:at] + "\n" + fragment[at + 1:]
    elif roll < 0.35:
        fragment = fragment.upper() if rng.random() < 0.5 else fragment.lower()
    elif roll < 0.4 and len(fragment) > 2:
        fragment = fragment[: rng.randrange(1, len(fragment))]
    return fragment


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_corpus_splitter")
    rng = random.Random(20261208)
    for index, name in enumerate(ORDER):
        fragments = DIALECTS[name]
        for n in range(count):
            parts = []
            for _ in range(rng.randint(1, 6)):
                parts.append(vary(rng.choice(fragments), rng))
                parts.append(rng.choice(SEPARATORS))
            text = str(index) + "".join(parts)
            with open(os.path.join(folder, "gen-%s-%04d" % (name, n)), "w", newline="") as out:
                out.write(text)


if __name__ == "__main__":
    main()
