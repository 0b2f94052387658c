From: Tom Baker <tom@example.org>
To: Ann <ann.lee@example.com>
Subject: Friday is fine
Date: Mon, 15 Jan 2024 06:26:40 +0000

See you there.
