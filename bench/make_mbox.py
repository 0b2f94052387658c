#!/usr/bin/env python3
"""Writes an mbox of about MIB mebibytes of real-looking, varied mails for the
reading benchmark: headers of many kinds and lengths, folded lines, bodies from
a few lines to tens of kilobytes, CR LF and LF, some mails without recipients.
The same seed gives the same file.

Usage: make_mbox.py OUT MIB [SEED]
"""
import random
import sys

WORDS = ("the of and to in is that for on with as was at by be this have from or "
         "an they which you one had not but what all were when we there can your "
         "more said if do will each about how up out them then she many some so "
         "these would other into has her two like him see time could no make than "
         "first been its who now people my made over did down only way find use "
         "may water long little very after words called just where most know get "
         "through back much before go good new write our used me man too any day "
         "same right look think also around another came come work three word must "
         "because does part even place well such here take why things help put "
         "years different away again off went old number great tell men say small "
         "every found still between name should home big give air line set own "
         "under read last never us left end along while might next sound below "
         "meeting invoice report garden schedule review budget draft holiday").split()
NAMES = ("ann bob carol dave erin frank grace heidi ivan judy ken lena mallory "
         "nina oscar peggy quinn rupert sybil trent ursula victor wendy xavier "
         "yolanda zack lee marsh smith jones brown taylor wilson evans").split()
DOMAINS = ("example.com example.org example.net mail.example.com lists.example.org "
           "shop.example.com lee-family.example.net old-isp.example.net "
           "relay.example.net mx1.example.org news.example.com").split()
AGENTS = ("Mozilla/5.0 (Windows NT 10.0; rv:115.0) Gecko/20100101 Thunderbird/115.6.0",
          "Microsoft Outlook 16.0", "Apple Mail (2.3774.300.61.1.2)", "mutt/2.2.9",
          "Roundcube Webmail/1.6.5")
DAYS = "Mon Tue Wed Thu Fri Sat Sun".split()
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def address(rng):
    return "%s.%s%d@%s" % (rng.choice(NAMES), rng.choice(NAMES), rng.randrange(100),
                           rng.choice(DOMAINS))


def person(rng):
    a = address(rng)
    if rng.random() < 0.6:
        return '"%s %s" <%s>' % (rng.choice(NAMES).title(), rng.choice(NAMES).title(), a)
    return a


def sentence(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def date(rng):
    return "%s, %d %s 2024 %02d:%02d:%02d +0000" % (
        rng.choice(DAYS), rng.randrange(1, 29), rng.choice(MONTHS), rng.randrange(24),
        rng.randrange(60), rng.randrange(60))


def fold(name, items, sep):
    """A header whose items go on continuation lines once the line is long."""
    lines, line = [], name + ": "
    for i, item in enumerate(items):
        piece = item + (sep if i + 1 < len(items) else "")
        if len(line) + len(piece) > 76 and line.strip() != name + ":":
            lines.append(line.rstrip())
            line = "\t"
        line += piece + " "
    lines.append(line.rstrip())
    return lines


def mail(rng, number):
    h = []
    for hop in range(rng.randrange(0, 7)):
        ip = "%d.%d.%d.%d" % (192, 0, 2 + hop, rng.randrange(256))
        rcv = ("Received: from %s (%s [%s])" % (rng.choice(DOMAINS), rng.choice(DOMAINS), ip),
               "\tby %s with ESMTPS id %08X" % (rng.choice(DOMAINS), rng.getrandbits(32)))
        h.extend(rcv)
        if rng.random() < 0.5:
            h.append("\tfor <%s>; %s" % (address(rng), date(rng)))
        else:
            h.append("\t; %s" % date(rng))
    if rng.random() < 0.3:
        h.append("DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=%s; s=s1;"
                 % rng.choice(DOMAINS))
        for _ in range(rng.randrange(2, 6)):
            h.append("\t%x" % rng.getrandbits(280))
    h.append("Message-ID: <%x.%d@%s>" % (rng.getrandbits(64), number, rng.choice(DOMAINS)))
    h.append("Date: " + date(rng))
    h.append("From: " + person(rng))
    if rng.random() < 0.93:
        h.extend(fold("To", [person(rng) for _ in range(rng.choice((1, 1, 1, 2, 3, 8)))], ","))
        if rng.random() < 0.3:
            h.extend(fold("Cc", [person(rng) for _ in range(rng.randrange(1, 5))], ","))
        if rng.random() < 0.1:
            h.append("Envelope-To: " + address(rng))
    h.append("Subject: " + sentence(rng, rng.randrange(2, 12)))
    for _ in range(rng.randrange(0, 5)):
        h.append("X-%s-%s: %s" % (rng.choice(NAMES).title(), rng.choice(WORDS).title(),
                                  sentence(rng, rng.randrange(1, 8))))
    if rng.random() < 0.5:
        h.append("User-Agent: " + rng.choice(AGENTS))
    h.append("MIME-Version: 1.0")
    h.append("Content-Type: text/plain; charset=utf-8")
    body = []
    size = rng.choice((3, 8, 20, 40, 80, 200, 600))
    for _ in range(rng.randrange(1, size + 1)):
        line = sentence(rng, rng.randrange(0, 16))
        if line.startswith("from ") or rng.random() < 0.01:
            line = ">From " + line
        body.append(line)
    eol = "\r\n" if rng.random() < 0.2 else "\n"
    sender = address(rng)
    head = "From %s %s %s %2d %02d:%02d:%02d 2024\n" % (
        sender, rng.choice(DAYS), rng.choice(MONTHS), rng.randrange(1, 29),
        rng.randrange(24), rng.randrange(60), rng.randrange(60))
    return head + eol.join(h) + eol + eol + eol.join(body) + eol + eol


def main():
    out, mib = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    # A pool of distinct mails, written in a shuffled order again and again:
    # varied enough that no pattern repeats at a short period, and quick to write.
    pool = [mail(rng, n).encode() for n in range(6000)]
    target = mib * 1024 * 1024
    written = mails = 0
    with open(out, "wb") as f:
        while written < target:
            rng.shuffle(pool)
            block = b"".join(pool)
            f.write(block)
            written += len(block)
            mails += len(pool)
    print(mails, written)


main()
