#!/usr/bin/env bash
# The dump restore benchmark: a plain pg_dump (COPY format) of a database with 65,000 rows, a function and a
# trigger, restored into a new database by odbc-console -f and by psql -f on a throwaway server. Medians of
# RUNS alternating runs (5 by default) and the ratio.
source "$(dirname "$0")/common.sh"
start_pg_server
dump=$pg_dir/dump.sql
psql_cmd -c "create database restore_src" >/dev/null
psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d restore_src >/dev/null <<'SQL'
create table item(id int primary key, name text, note text, created timestamptz default now());
create table audit(item int, what text);
create function audit_item() returns trigger language plpgsql as $$ begin insert into audit values (new.id, 'added; ' || new.name); return new; end $$;
create trigger item_audit after insert on item for each row execute function audit_item();
insert into item select g, 'name ' || g, case when g % 3 = 0 then null when g % 3 = 1 then E'tab\there\\back\nnl\\N' else '' end
  from generate_series(1, 65000) g;
SQL
pg_dump -h 127.0.0.1 -p "$port" -U postgres restore_src >"$dump"

# run PROGRAM: one timed restore into a new, empty database; prints "seconds KiB".
run() {
  psql_cmd -c "drop database if exists restore_dst" -c "create database restore_dst" >/dev/null
  case "$1" in
    console) "$measure" /dev/null /dev/null build-bench/odbc-console -b -f "$dump" \
      "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=restore_dst;UID=postgres;CommLog=0;Debug=0" ;;
    psql) "$measure" /dev/null /dev/null psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d restore_dst -f "$dump" ;;
  esac
}

programs=(console psql)
for program in "${programs[@]}"; do : >"$pg_dir/$program.times"; done
for ((i = 1; i <= runs; i++)); do
  for program in "${programs[@]}"; do run "$program" >>"$pg_dir/$program.times"; done
done
machine
echo "a plain pg_dump of 65,000 rows, a function and a trigger ($(stat -c %s "$dump") bytes) restored into an empty database, medians of $runs runs:"
for program in "${programs[@]}"; do
  printf '  %-8s %8.3f s   peak RSS %8s KiB\n' "$program" "$(cut -d' ' -f1 "$pg_dir/$program.times" | median)" "$(max_rss <"$pg_dir/$program.times")"
done
awk -v a="$(cut -d' ' -f1 "$pg_dir/console.times" | median)" -v b="$(cut -d' ' -f1 "$pg_dir/psql.times" | median)" \
  'BEGIN { printf "  console/psql -f %.2f (target <= 1.5)\n", a / b }'
