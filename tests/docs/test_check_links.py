"""The link check over the pages as they are, and the check itself on small
pages made for each rule."""

import os
import shutil
import tempfile
import unittest

import check_links


class LinkCheck(unittest.TestCase):
    root = check_links.ROOT  # the project's own, put back after each made page

    def test_the_pages_link_only_to_what_is_there(self):
        self.assertEqual([p for page in check_links.pages() for p in check_links.problems(page)], [])

    def test_each_rule_on_a_page_of_its_own(self):
        # Page text, and the links it should be told of.
        rows = (
            ("[a](docs/pic.png) ![b](docs/pic.png)", [], "a file that is there"),
            ("[a](docs/Pic.png)", ["docs/Pic.png (no such file)"], "the case matters"),
            ("[a](docs/gone.md)", ["docs/gone.md (no such file)"], "a file that is not there"),
            ("[a](#two-words-here)\n\n## Two words, here!", [], "a heading's slug"),
            ("[a](#missing)\n\n## There", ["#missing (no such heading)"], "a heading that is not there"),
            ("[a](docs/page.md#setup-on-windows)", [], "a heading in another page"),
            ("[a](docs/page.md#setup-on-windows-1)", [], "the second heading of that name"),
            ("[a](docs/page.md#nowhere)", ["docs/page.md#nowhere (no such heading)"], "not in the other page"),
            ("`[a](gone.md)`\n\n```\n[b](gone.md)\n```\n\n    [c](gone.md)", [], "code is passed over"),
            ("[a](https://example.org/gone) <a href=\"mailto:x@y\">x</a>", [], "outside addresses are not fetched"),
            ("<img src=\"docs/none.png\">", ["docs/none.png (no such file)"], "an image in HTML"),
            ("[a][r]\n\n[r]: docs/none.md", ["docs/none.md (no such file)"], "a reference definition"),
            ("[a](../outside.md)", ["../outside.md (no such file)"], "nothing above the tree"),
        )
        for page, told, proves in rows:
            with self.subTest(proves):
                root = tempfile.mkdtemp()
                self.addCleanup(shutil.rmtree, root)
                os.makedirs(os.path.join(root, "docs"))
                open(os.path.join(root, "docs", "pic.png"), "wb").close()
                with open(os.path.join(root, "docs", "page.md"), "w") as f:
                    f.write("# Setup on Windows\n\ntext\n\n## Setup on Windows\n")
                with open(os.path.join(root, "README.md"), "w") as f:
                    f.write(page + "\n")
                check_links.ROOT = root
                try:
                    found = list(check_links.problems(os.path.join(root, "README.md")))
                finally:
                    check_links.ROOT = self.root
                self.assertEqual([p.split(": ", 1)[1] for p in found], told)


if __name__ == "__main__":
    unittest.main()
