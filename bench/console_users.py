#!/usr/bin/python3
"""How soon the console's users page is ready in headless Chromium with
10,000 users: from the navigation's start to the moment the page has drawn
its first page of the list (its "users-ready" mark), and from submitting a
search by name to the one user found drawn. Printed, not asserted.

Usage: bench/console_users.py path/to/tivel [USERS] [RUNS]   (on SQLite)
"""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'console', 'tests'))
from console_fixture import Portal, browser, skip_reason  # noqa: E402

from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402


def add_users(portal, count):
    """`count` users through AdminMgt.addUsr, a thousand a batch."""
    made = 0
    while made < count:
        batch = [{'id': 'a', 'new': 'TivelMgt.AdminMgt'}]
        for i in range(made, min(count, made + 1000)):
            batch.append({'id': i, 'object': {'from': 'a'}, 'call': 'addUsr',
                          'args': ['user%05d' % i, 'Pw-%d' % i, '用户%05d' % i, '', '', '', '', '']})
        for key, answer in portal.rpc(batch).items():
            if key != 'a' and answer.get('result') not in (True, '0'):
                raise RuntimeError('addUsr answered %s' % answer)
        made = min(count, made + 1000)


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    tivel = sys.argv[1]
    users = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    reason = skip_reason('sqlite')
    if reason:
        print('cannot run:', reason)
        return 1
    with Portal(tivel, 'sqlite', hosts=1) as portal:
        started = time.time()
        add_users(portal, users)
        print('%d users added in %.1f s' % (users, time.time() - started))
        d = browser()
        try:
            d.get(portal.url(0) + '/console/')
            d.find_element(By.NAME, 'account')
            WebDriverWait(d, 20).until(lambda d: d.find_element(By.NAME, 'account'))
            d.find_element(By.NAME, 'account').send_keys('admin')
            d.find_element(By.NAME, 'password').send_keys(Portal.admin_password + '\n')
            WebDriverWait(d, 20).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready'))
            ready, found = [], []
            for _ in range(runs):
                d.get('about:blank')
                d.get(portal.url(0) + '/console/#/users')
                WebDriverWait(d, 60).until(
                    lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready') == 'users')
                ready.append(d.execute_script(
                    "return performance.getEntriesByName('users-ready')[0].startTime"))
                found.append(d.execute_async_script(
                    "const done = arguments[0];"
                    "const q = document.querySelector('input[type=search]');"
                    "const results = document.querySelector('.results');"
                    "const t0 = performance.now();"
                    "new MutationObserver((m, o) => { if (results.querySelectorAll('tbody tr').length === 1) {"
                    "  o.disconnect(); done(performance.now() - t0); } }).observe(results, {childList: true, subtree: true});"
                    "q.value = '用户09999'; q.form.requestSubmit();"))
                rows = d.find_elements(By.CSS_SELECTOR, '.results tbody tr')
                if len(rows) != 1:
                    raise RuntimeError('finding one user showed %d rows' % len(rows))
        finally:
            d.quit()
    print('users page with %d users, ready after navigation: median %.0f ms (runs: %s)' %
          (users + 3, statistics.median(ready), ', '.join('%.0f' % r for r in ready)))
    print('finding one user by name among them: median %.0f ms' % statistics.median(found))
    return 0


if __name__ == '__main__':
    sys.exit(main())
