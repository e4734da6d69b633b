"""Headless Chromium through Selenium for the page's tests: a fresh profile, no network of its
own, downloads into a folder of the test's."""
import os
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def start(downloads, width=1200, height=1600):
    profile = tempfile.mkdtemp(prefix="pelko-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 f"--user-data-dir={profile}", f"--window-size={width},{height}"):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    driver.profile = profile
    return driver


def wait_for(condition, timeout=60, what="a condition"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


def downloaded(folder, name, timeout=30):
    """The text of a download, once it is complete."""
    path = os.path.join(folder, name)
    wait_for(lambda: os.path.exists(path) and not os.path.exists(path + ".crdownload"),
             timeout, f"the download {name}")
    with open(path, encoding="utf-8") as f:
        return f.read()
