"""What the console's browser tests and its benchmark stand on: a scratch
portal root on one engine with two `tivel serve` hosts on free loopback
ports, its component calls over /rpc, and headless Chromium. Everything
started here is stopped when the `with` block ends, whatever happens."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request
import uuid

SKIPPED = 77
PYTHON = '/usr/bin/python3'


# A server engine: the prefix of its TIVEL_TEST_* variables, its ODBC driver,
# and how a scratch database is made on it.
SERVERS = {
    'postgresql': ('TIVEL_TEST_PG', 'PostgreSQL Unicode', " ENCODING 'UTF8' TEMPLATE template0"),
    'mariadb': ('TIVEL_TEST_MARIADB', 'MariaDB Unicode', ' CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin'),
}


def skip_reason(engine):
    """Why the browser tests cannot run here, or ''."""
    if not shutil.which('chromium') or not shutil.which('chromedriver'):
        return 'chromium or chromium-driver is not installed (scripts/install-deps.sh installs them)'
    try:
        import selenium  # noqa: F401
    except ImportError:
        return 'python3-selenium is not installed (scripts/install-deps.sh installs it)'
    if engine not in ('sqlite', 'postgresql', 'mariadb'):
        return 'unknown engine ' + engine
    if engine != 'sqlite' and not os.environ.get(SERVERS[engine][0] + '_HOST'):
        return 'no %s server given (%s_HOST ...)' % (engine, SERVERS[engine][0])
    return ''


def browser():
    """Headless Chromium with a fresh profile, asking for Simplified Chinese."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    opts = webdriver.ChromeOptions()
    opts.binary_location = shutil.which('chromium')
    profile = tempfile.mkdtemp(prefix='tivel-chromium-')
    for a in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
              '--disable-background-networking', '--disable-component-update', '--disable-sync',
              '--disable-dev-shm-usage', '--window-size=1280,900', '--lang=zh-CN', '--user-data-dir=' + profile]:
        opts.add_argument(a)
    opts.add_experimental_option('prefs', {'intl.accept_languages': 'zh-CN,zh'})
    driver = webdriver.Chrome(service=Service(shutil.which('chromedriver')), options=opts)
    driver.set_script_timeout(20)
    quit_ = driver.quit

    def quit_and_clean():
        try:
            quit_()
        finally:
            shutil.rmtree(profile, ignore_errors=True)
    driver.quit = quit_and_clean
    return driver


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def request(url, method='GET', body=None, headers=None):
    """(status, JSON or text, response headers) of one HTTP request."""
    data = None if body is None else (body if isinstance(body, bytes) else body.encode())
    req = urllib.request.Request(url, method=method, data=data, headers=headers or {})
    try:
        with urllib.request.urlopen(req, timeout=60) as r:
            status, text, head = r.status, r.read().decode(), r.headers
    except urllib.error.HTTPError as e:
        status, text, head = e.code, e.read().decode(), e.headers
    try:
        return status, json.loads(text), head
    except ValueError:
        return status, text, head


def items(dump):
    """The records of a dumped collection."""
    return [e.get('item', {}) for e in dump] if isinstance(dump, list) else []


class Portal:
    """A scratch root with an administrator "admin", the plain user "editor"
    and the user "locked", served by two hosts."""

    admin_password = 'Adm1n-secret'
    user_password = 'Us3r-secret'

    def __init__(self, tivel, engine, hosts=2, lock_after=3):
        self.tivel = os.path.abspath(tivel)
        self.engine = engine
        self.hosts = hosts
        self.lock_after = lock_after
        self.tmp = tempfile.mkdtemp(prefix='tivel-console-')
        self.root = os.path.join(self.tmp, 'root')
        self.procs = []
        self.ports = []
        self.database = ''
        self._session = None

    # ---- setting up and tearing down

    def __enter__(self):
        try:
            self._make_root()
            self.start()
            self._add_user('editor')
            self._add_user('locked')
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        if self.database:
            self._server_sql('DROP DATABASE IF EXISTS %s%s' % (self.database,
                                                               ' WITH (FORCE)' if self.engine == 'postgresql' else ''))
        shutil.rmtree(self.tmp, ignore_errors=True)
        return False

    def _setting(self, name):
        return os.environ.get(SERVERS[self.engine][0] + '_' + name, '')

    def _server_sql(self, sql):
        """Runs one statement on the engine's server, outside the portal's database."""
        if self.engine == 'postgresql':
            subprocess.run(['psql', '-q', '-h', self._setting('HOST'), '-p', self._setting('PORT'),
                            '-U', self._setting('USER'), '-d', 'postgres', '-c', sql],
                           env=dict(os.environ, PGPASSWORD=self._setting('PASSWORD')), check=True, capture_output=True)
        else:
            subprocess.run(['mariadb', '--no-defaults', '--protocol=tcp', '-h', self._setting('HOST'),
                            '-P', self._setting('PORT') or '3306', '-u', self._setting('USER'), '-e', sql],
                           env=dict(os.environ, MYSQL_PWD=self._setting('PASSWORD')), check=True, capture_output=True)

    def _make_root(self):
        if self.engine != 'sqlite':
            prefix, driver, options = SERVERS[self.engine]
            self.database = 'tivel_console_' + uuid.uuid4().hex[:12]
            self._server_sql('CREATE DATABASE ' + self.database + options)
            os.makedirs(os.path.join(self.root, 'ini'))
            with open(os.path.join(self.root, 'ini', 'SysTivel.ini'), 'w') as ini:
                ini.write('[DB]\nmode=2\n[DBCONN_sql_drive]\nDRIVER=%s\nSERVER=%s,%s\nuid=%s\npwd=%s\nDatabase=%s\n'
                          % (driver, self._setting('HOST'), self._setting('PORT'), self._setting('USER'),
                             self._setting('PASSWORD'), self.database))
        subprocess.run([self.tivel, 'init', '--root', self.root, '--admin', 'admin', '--password-stdin',
                        '--policy', '--lock-after', str(self.lock_after)],
                       input=self.admin_password + '\n', text=True, check=True, capture_output=True)
        with open(os.path.join(self.root, 'ini', 'serve.token')) as f:
            self.token = f.readline().strip()

    def start(self):
        """Starts the hosts, each on a free port, and waits until they answer."""
        for _ in range(self.hosts):
            port = free_port()
            log = open(os.path.join(self.tmp, 'serve-%d.log' % port), 'w')
            p = subprocess.Popen([self.tivel, 'serve', '--root', self.root, '--listen', '127.0.0.1:%d' % port],
                                 stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
            self.procs.append(p)
            self.ports.append(port)
        for port, p in zip(self.ports, self.procs):
            deadline = time.time() + 60
            while True:
                if p.poll() is not None:
                    raise RuntimeError('tivel serve ended at once: ' + open(
                        os.path.join(self.tmp, 'serve-%d.log' % port)).read())
                try:
                    if request('http://127.0.0.1:%d/health' % port)[0] == 200:
                        break
                except OSError:
                    pass
                if time.time() > deadline:
                    raise RuntimeError('tivel serve did not answer on port %d' % port)
                time.sleep(0.1)

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in self.procs:
            try:
                p.wait(timeout=40)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.procs, self.ports = [], []
        self._session = None

    def restart_with_idle(self, minutes):
        """Restarts the hosts with [Console] idle_minutes set."""
        self.stop()
        ini = os.path.join(self.root, 'ini', 'SysTivel.ini')
        with open(ini, 'a') as f:
            f.write('\n[Console]\nidle_minutes=%s\n' % minutes)
        self.start()

    def restart_with_second_factor(self):
        """Restarts the hosts with [Security] second_factor=totp and gives
        "admin" a secret; answers the secret (base32)."""
        self.stop()
        with open(os.path.join(self.root, 'ini', 'SysTivel.ini'), 'a') as f:
            f.write('\n[Security]\nsecond_factor=totp\n')
        out = subprocess.run([self.tivel, 'totp', 'enroll', 'admin', '--root', self.root],
                             text=True, check=True, capture_output=True).stdout
        self.start()
        return next(line.split()[1] for line in out.splitlines() if line.startswith('secret:'))

    def url(self, host):
        return 'http://127.0.0.1:%d' % self.ports[host]

    # ---- the components, over /rpc with the pages' token

    def rpc(self, batch):
        status, answer, _ = request(self.url(0) + '/rpc', 'POST', json.dumps(batch),
                                    {'Authorization': 'Bearer ' + self.token, 'Content-Type': 'application/json'})
        if status != 200:
            raise RuntimeError('/rpc answered %s: %s' % (status, answer))
        return {a['id']: a for a in answer}

    def call(self, progid, member, *args, dump=False):
        batch = [{'id': 'o', 'new': progid}, {'id': 'r', 'object': {'from': 'o'}, 'call': member, 'args': list(args)}]
        if dump:
            batch.append({'id': 'd', 'dump': {'from': 'r'}})
        a = self.rpc(batch)
        last = a['d' if dump else 'r']
        if 'error' in last:
            return [] if dump else None
        return last['result']

    def _add_user(self, account):
        r = self.call('TivelMgt.AdminMgt', 'addUsr', account, self.user_password, account, '', '', '', '', '')
        if r is not True and r != '0':
            raise RuntimeError('addUsr %s answered %s' % (account, r))

    def usr_no(self, account):
        a = self.rpc([{'id': 'o', 'new': 'TivelMgt.UmMgt'},
                      {'id': 'u', 'object': {'from': 'o'}, 'call': 'getUsrByAccount', 'args': [account]},
                      {'id': 'n', 'object': {'from': 'u'}, 'get': 'Usr_No'}])
        return str(a['n']['result'])

    def _key(self, records, key, name):
        for r in records:
            if r.get('Name') == name:
                return str(r[key])
        return ''

    def org_no(self, name):
        """The key of a top-level department."""
        return self._key(items(self.call('TivelMgt.UmMgt', 'getSonOrgOfOrg', '0', dump=True)), 'Org_No', name)

    def grp_no(self, name):
        return self._key(items(self.call('TivelMgt.UmMgt', 'getAllGrp', dump=True)), 'Grp_no', name)

    def app_no(self, name):
        return self._key(items(self.call('TivelMgt.AppMgt', 'getAllApp', dump=True)), 'App_No', name)

    def res_no(self, name):
        for app in items(self.call('TivelMgt.AppMgt', 'getAllApp', dump=True)):
            key = self._key(items(self.call('TivelMgt.AppMgt', 'getResOfApp', app['App_No'], dump=True)), 'Res_no',
                            name)
            if key:
                return key
        return ''

    def member_of_group(self, account, name):
        return any(g.get('Name') == name
                   for g in items(self.call('TivelMgt.UmMgt', 'getGrpOfUsr', self.usr_no(account), dump=True)))

    def has_role(self, account, name):
        return any(r.get('Name') == name
                   for r in items(self.call('TivelMgt.AppMgt', 'getRolOfUsr', self.usr_no(account), dump=True)))

    def check_auth(self, res_no, usr_no, bit):
        return str(self.call('TivelMgt.AdminMgt', 'checkAuth', res_no, usr_no, bit))

    # ---- the console's own routes, as a program would use them

    def console_sign_in(self, account, password, host=0):
        """(status, answer, cookie) of a sign-in through the console."""
        status, answer, head = request(self.url(host) + '/console/api/signin', 'POST',
                                       json.dumps({'account': account, 'password': password}),
                                       {'Content-Type': 'application/json'})
        cookie = ''
        for c in head.get_all('Set-Cookie') or []:
            if c.startswith('tivel_console='):
                cookie = c.split(';')[0].split('=', 1)[1]
        return status, answer, cookie

    def admin_session(self):
        """A console session of "admin" for reads: (cookie, csrf)."""
        if not self._session:
            status, answer, cookie = self.console_sign_in('admin', self.admin_password)
            if status != 200:
                raise RuntimeError('admin cannot sign in: %s %s' % (status, answer))
            self._session = (cookie, answer['csrf'])
        return self._session

    def log_holds(self, text):
        """Whether a system log entry holds `text` (through the console's log read, in a batch)."""
        cookie, csrf = self.admin_session()
        batch = json.dumps([{'id': 'c', 'new': 'TivelMgt.ConsoleMgt'},
                            {'id': 1, 'object': {'from': 'c'}, 'call': 'getLogCount', 'args': ['', '', '', text]}])
        status, answer, _ = request(self.url(0) + '/console/rpc', 'POST', batch,
                                    headers={'Cookie': 'tivel_console=' + cookie, 'X-Tivel-CSRF': csrf,
                                             'Content-Type': 'application/json'})
        return status == 200 and isinstance(answer, list) and (answer[-1].get('result') or 0) > 0


# ---- accessibility: axe-core, fetched by scripts/install-deps.sh

AXE_VERSION = '4.10.3'


def axe_source():
    """(axe.min.js's text, '') or (None, why it is missing). Outside CI a
    missing copy skips the accessibility checks; in CI it fails them."""
    dirs = [os.environ.get('TIVEL_AXE_DIR', ''), '/var/cache/tivel', os.path.expanduser('~/.cache/tivel')]
    for d in filter(None, dirs):
        path = os.path.join(d, 'axe-core-' + AXE_VERSION, 'axe.min.js')
        if os.path.isfile(path):
            with open(path, encoding='utf-8') as f:
                return f.read(), ''
    return None, 'axe-core %s is not installed (scripts/install-deps.sh fetches it)' % AXE_VERSION


def axe_violations(driver, source):
    """The axe-core violations of the page shown: [(impact, rule id, how many nodes)]."""
    if not driver.execute_script('return !!window.axe'):
        driver.execute_script(source + '\n;window.axe = axe;')
    result = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document, {resultTypes: ['violations']}).then("
        "  r => done(r.violations.map(v => [v.impact, v.id, v.nodes.length])), e => done([['error', String(e), 0]]));")
    return [tuple(v) for v in result]
