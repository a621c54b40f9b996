#!/usr/bin/env python3
"""Compares the statements a server logs when the console runs a file (odbc-console -f) with those it logs
when the server's own client runs the same file (psql -f; the mariadb client), over the generated inputs of
the splitter corpus (tests/fuzz_corpus_splitter/gen-DIALECT-*). Starts a throwaway server of its own.
    splitter_server_log.py postgres|mariadb CONSOLE [COUNT]
COUNT inputs per dialect (every one when absent). Prints each input whose logs differ and, last,
'N passed, N failed'; exits 1 when any differ."""
import glob
import os
import re
import subprocess
import sys
import tempfile

TESTS = os.path.dirname(os.path.abspath(__file__))
TIMEOUT = 30


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def leading_comment_end(text):
    """The length of the comment that opens text (-- to the line end, or /* */ nested), or 0 for none."""
    if text.startswith("--"):
        end = text.find("\n")
        return len(text) if end < 0 else end + 1
    if not text.startswith("/*"):
        return 0
    depth, i = 0, 0
    while i < len(text) - 1:
        pair = text[i:i + 2]
        if pair == "/*":
            depth, i = depth + 1, i + 2
        elif pair == "*/":
            depth, i = depth - 1, i + 2
            if depth == 0:
                return i
        else:
            i += 1
    return len(text)


def normal(text):
    """A statement as compared: the blanks and comments before it, the blanks and ';' after it, blank lines
    and carriage returns left out, runs of blanks as one. Where the two clients differ only so, they sent the same statement:
    psql drops blank lines and the comments that open a statement, and the console sends no delimiter."""
    text = text.replace("\r\n", "\n")
    while True:
        text = text.lstrip()
        cut = leading_comment_end(text)
        if cut == 0:
            break
        text = text[cut:]
    text = re.sub(r"\n(?:[ \t]*\n)+", "\n", text)
    text = re.sub(r"[ \t]+", " ", text)
    return text.rstrip().rstrip(";").rstrip()


def without_mysql_comments(text):
    """A MariaDB statement with its comments left out (not the /*! */ ones, which hold code): with --comments
    the mariadb client sends a comment that follows a statement on its line with it, and a comment alone as a
    statement of its own, where the console leaves both out."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c in "'\"`":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" and c != "`" else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif c == "#" or (text.startswith("--", i) and (i + 2 >= n or text[i + 2] <= " ")):
            end = text.find("\n", i)
            i = n if end < 0 else end
        elif text.startswith("/*", i) and not text.startswith("/*!", i) and not text.startswith("/*M!", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            out.append(" ")
        else:
            out.append(c)
            i += 1
    return "".join(out)


def mysql_comment_bodies(text):
    """The bodies of the comments of a MariaDB text, code comments (/*! */) marked by a leading '!'."""
    bodies, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c in "'\"`":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" and c != "`" else 1
            i = j + 1
        elif c == "#" or (text.startswith("--", i) and (i + 2 >= n or text[i + 2] <= " ")):
            end = text.find("\n", i)
            end = n if end < 0 else end
            bodies.append(text[i + 1:end])
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end
            bodies.append(text[i + 2:end])
            i = end + 2
        else:
            i += 1
    return bodies


class Postgres:
    """A throwaway PostgreSQL server that logs every statement, each log entry led by @@session@@."""

    def __init__(self, work):
        self.dir = os.path.join(work, "pg")
        self.port = free_port()
        self.script = os.path.join(TESTS, "pg_server.sh")
        subprocess.run([self.script, "start", self.dir, str(self.port)], check=True)
        self.log = os.path.join(self.dir, "server.log")
        self.psql(["-c", "alter system set log_statement = 'all'", "-c", "alter system set log_line_prefix = '@@%c@@ '",
                   "-c", "alter system set log_min_error_statement = 'error'", "-c", "select pg_reload_conf()"])
        self.conn = ("Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=%d;Database=postgres;UID=postgres;CommLog=0;Debug=0"
                     % self.port)

    def psql(self, args, path=None):
        command = ["psql", "-X", "-q", "-h", "127.0.0.1", "-p", str(self.port), "-U", "postgres", "-d", "postgres"]
        if path:
            command += ["-f", path]
        return subprocess.run(command + args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=TIMEOUT)

    def peer(self, path):
        """Runs the file through psql; returns false when psql took a backslash outside quotes for a command
        of its own (the console's commands stand alone on their lines): then the two are not compared."""
        return b"invalid command \\" not in self.psql([], path).stderr

    def logged(self, run):
        """The statements logged while run() runs, in order."""
        start = os.path.getsize(self.log)
        run()
        with open(self.log, "rb") as log:
            log.seek(start)
            text = log.read().decode("utf-8", "replace")
        entries = []
        for line in text.split("\n"):
            match = re.match(r"@@[0-9a-f.]+@@ ([A-Z]+):  (.*)", line)
            if match:
                entries.append([match.group(1), match.group(2)])
            elif line.startswith("\t") and entries:
                entries[-1][1] += "\n" + line[1:]
        statements = []
        pending = None  # the statement logged before it ran: its error repeats it
        for level, message in entries:
            match = re.match(r"(?:statement|execute <unnamed>|execute [a-zA-Z0-9_]+): (.*)", message, re.S)
            if level == "LOG" and match:
                statements.append(match.group(1))
                pending = match.group(1)
            elif level == "STATEMENT":
                if message != pending:
                    statements.append(message)
                pending = None
        return statements

    def console_logged(self, run):
        return self.logged(run)

    def normal(self, text):
        return normal(text)

    def console_environment(self):
        return {}

    def stop(self):
        subprocess.run([self.script, "stop", self.dir])


class MariaDb:
    """A throwaway MariaDB server that logs every statement in its general log table."""

    def __init__(self, work):
        self.dir = os.path.join(work, "mdb")
        self.port = free_port()
        self.script = os.path.join(TESTS, "mariadb_server.sh")
        subprocess.run([self.script, "start", self.dir, str(self.port)], check=True)
        self.query("set global log_output = 'TABLE'; set global general_log = 1")
        self.conn = "Driver=MariaDB Unicode;Server=127.0.0.1;Port=%d;Database=test;User=root" % self.port

    def client(self, extra, stdin=None):
        command = ["mariadb", "--no-defaults", "-h", "127.0.0.1", "-P", str(self.port), "-uroot"] + extra + ["test"]
        return subprocess.run(command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)

    def query(self, sql):
        return self.client(["-N", "-B", "-r", "-e", sql]).stdout.decode("utf-8", "replace")

    def peer(self, path):
        """Runs the file through the mariadb client; returns false when the client took a backslash outside
        quotes for a command of its own, met the dump tools' sandbox mark (a command to the client that
        changes how it reads the lines after it), a DELIMITER line it reads its own way, or comments it
        reads unlike the server: then the two are not compared."""
        with open(path, "rb") as text:
            source = text.read()
            text.seek(0)
            run = self.client(["--force"], stdin=text)
        # A DELIMITER line without its delimiter, or after a statement on its line, the client reads its
        # own way (it drops text): the console reads the latter as a directive, the former as statement text.
        odd_delimiter = re.search(rb"(?mi)^[ \t]*DELIMITER[ \t]*\r?$|^[^\n]*;[^\n]*\bDELIMITER\b", source)
        # The client reads "/*" inside a comment as a comment nested in it, where the server (and the
        # console) end the comment at the first "*/"; and it ends a statement at a ';' inside a code comment
        # (/*! */), which the server runs whole.
        bodies = mysql_comment_bodies(source.decode("utf-8", "replace"))
        odd_comment = any("/*" in body or (body.startswith("!") and ";" in body) for body in bodies)
        return (b"Unknown command" not in run.stderr and b"/*M!999999\\-" not in source and not odd_delimiter
                and not odd_comment)

    def normal(self, text):
        """As normal(), with every blank and line break left out too: the client drops the line break after a
        DELIMITER line that stands inside a statement, as text of it."""
        return re.sub(r"\s+", "", normal(without_mysql_comments(text)))

    def logged(self, run, kinds=("Query", "Execute")):
        """The statements logged while run() runs, in order: the general log of every other connection."""
        self.query("truncate table mysql.general_log")
        run()
        # One row a line: the argument hex-encoded, so that line breaks in it stay its own.
        out = self.query("select hex(argument) from mysql.general_log where command_type in (%s) "
                         "and thread_id <> connection_id()" % ", ".join("'%s'" % kind for kind in kinds))
        return [bytes.fromhex(line).decode("utf-8", "replace") for line in out.split("\n") if line]

    def console_logged(self, run):
        """The statements the console hands the driver manager while run() runs, from its trace: the general log
        leaves out every statement whose server-side prepare failed (the driver prepares what SQLExecDirect
        sends), where the mariadb client's statements are all logged. The trace shows the first bytes of a
        long statement and its length: its whole text is taken from the general log, or None when the log
        does not have it (a long statement whose prepare failed), and the input is not compared."""
        trace = os.path.join(self.odbcini, "trace.log")
        if os.path.exists(trace):
            os.unlink(trace)
        server_side = self.logged(run, ("Query", "Prepare"))
        with open(trace, "rb") as log:
            data = log.read()
        statements = []
        for entry in data.split(b"[SQLExecDirect.c]")[1:]:
            start = entry.find(b"SQL = [")
            if start < 0:
                continue
            start += len(b"SQL = [")
            match = re.search(rb"\]\[length = (\d+)", entry[start:])
            if not match:
                continue
            shown, length = entry[start:start + match.start()], int(match.group(1))
            if len(shown) == length:
                statements.append(shown.decode("utf-8", "replace"))
                continue
            prefix = shown[:-3] if shown.endswith(b"...") else shown
            whole = [t for t in server_side if len(t.encode()) == length and t.encode().startswith(prefix)]
            statements.append(whole[0] if whole else None)
        return statements

    def console_environment(self):
        """The driver manager's settings for the console: its drivers, and a trace of every call."""
        self.odbcini = os.path.join(self.dir, "odbcini")
        os.makedirs(self.odbcini, exist_ok=True)
        with open("/etc/odbcinst.ini") as drivers, open(os.path.join(self.odbcini, "odbcinst.ini"), "w") as out:
            out.write("[ODBC]\nTrace=Yes\nTraceFile=%s\n\n" % os.path.join(self.odbcini, "trace.log"))
            out.write(re.sub(r"(?ms)^\[ODBC\].*?(?=^\[|\Z)", "", drivers.read()))
        return {"ODBCSYSINI": self.odbcini}

    def stop(self):
        subprocess.run([self.script, "stop", self.dir])


def without_prefix(statements, prefix):
    """The statements after what every session of that client sends first (its connection's own)."""
    return statements[len(prefix):] if statements[:len(prefix)] == prefix else statements


def main():
    dialect, console = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else None
    inputs = sorted(glob.glob(os.path.join(TESTS, "fuzz_corpus_splitter", "gen-%s-*" % dialect)))[:count]
    work = tempfile.mkdtemp(prefix="odbc-console-splitter-log-")
    os.chmod(work, 0o755)  # the server runs as its own user when this runs as root
    server = Postgres(work) if dialect == "postgres" else MariaDb(work)
    passed = failed = skipped = 0
    try:
        path = os.path.join(work, "input.sql")

        environment = dict(os.environ, LC_ALL="C.UTF-8", ODBC_CONSOLE_HISTFILE="", **server.console_environment())
        unterminated = []  # whether the console's last run left a statement unterminated at the end

        def run_console():
            run = subprocess.run([console, "-f", path, server.conn], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 env=environment, timeout=TIMEOUT)
            unterminated[:] = [b"statement not run: unterminated" in run.stderr]

        open(path, "w").close()
        console_prefix = server.console_logged(run_console)
        peer_prefix = server.logged(lambda: server.peer(path))
        for name in inputs:
            with open(name, "rb") as source, open(path, "wb") as out:
                out.write(source.read()[1:])  # the dialect byte
            ours = without_prefix(server.console_logged(run_console), console_prefix)
            if None in ours:
                skipped += 1
                continue
            ours = [server.normal(s) for s in ours]
            comparable = []
            theirs = [server.normal(s) for s in without_prefix(server.logged(lambda: comparable.append(server.peer(path))), peer_prefix)]
            if not comparable[0]:
                skipped += 1
                continue
            ours = [s for s in ours if s]
            theirs = [s for s in theirs if s]
            # The console sends no text that ends inside a quote, comment or body; the peer sends it at the end.
            if unterminated[0] and theirs and ours == theirs[:-1]:
                theirs.pop()
            if ours == theirs:
                passed += 1
                continue
            failed += 1
            with open(path, "rb") as text:
                print("== %s\n-- input:\n%s\n-- console sent: %r\n-- peer sent:    %r\n"
                      % (os.path.basename(name), text.read().decode("utf-8", "replace"), ours, theirs))
    finally:
        server.stop()
        subprocess.run(["rm", "-rf", work])
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
