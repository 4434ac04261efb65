#!/usr/bin/python3
"""Renders pages of left-aligned text lines for the orientation tests.

usage: render_text_page.py OUT.pgm SEED TURN SKEW [WIDTH HEIGHT FONTSIZE [LINES]]
       render_text_page.py --set DIR   (the 40-page test set, see SET below)
TURN is the counter-clockwise turn of the page in degrees (0, 90, 180, 270),
SKEW a small extra rotation in degrees (counter-clockwise positive). The
text is DejaVu Sans; the page is 8-bit gray.
"""
import random
import sys

from PIL import Image, ImageDraw, ImageFont

WORDS = ("the of and to in is was that for on are with as his they be at one have this from or had by "
         "word but what some we can out other were all there when up use your how said an each she which "
         "do their time if will way about many then them write would like so these her long make thing see "
         "him two has look more day could go come did number sound no most people my over know water than "
         "call first who may down side been now find any new work part take get place made live where after "
         "back little only round man year came show every good me give our under name very through just form "
         "sentence great think say help low line differ turn cause much mean before move right boy old too "
         "same tell does set three want air well also play small end put home read hand port large spell add "
         "even land here must big high such follow act why ask men change went light kind off need house "
         "picture try us again animal point mother world near build self earth father head stand own page "
         "should country found answer school grow study still learn plant cover food sun four between state "
         "keep eye never last let thought city tree cross farm hard start might story saw far sea draw left "
         "late run while press close night real life few north open seem together next white children begin "
         "got walk example ease paper group always music those both mark often letter until mile river car "
         "feet care second book carry took science eat room friend began idea fish mountain stop once base "
         "hear horse cut sure watch color face wood main enough plain girl usual young ready above ever red "
         "list though feel talk bird soon body dog family direct pose leave song measure door product black "
         "short numeral class wind question happen complete ship area half rock order fire south problem "
         "piece told knew pass since top whole king space heard best hour better true during hundred five "
         "remember step early hold west ground interest reach fast verb sing listen six table travel less "
         "morning ten simple several vowel toward war lay against pattern slow center love person money "
         "serve appear road map rain rule govern pull cold notice voice unit power town fine certain fly fall "
         "lead cry dark machine note wait plan figure star box noun field rest correct able pound done beauty "
         "drive stood contain front teach week final gave green oh quick develop ocean warm free minute strong "
         "special mind behind clear tail produce fact street inch multiply nothing course stay wheel full "
         "force blue object decide surface deep moon island foot system busy test record boat common gold "
         "possible plane stead dry wonder laugh thousand ago ran check game shape equate hot miss brought heat "
         "snow tire bring yes distant fill east paint language among").split()


# The test set: 10 texts, each at 4 turns, with small skews and varying
# page and type sizes; files are named p<index>_<turn>.pgm.
SKEWS = (-2.0, -1.0, 0.0, 0.5, 1.5)
SIZES = ((900, 800, 20), (800, 1000, 22), (1000, 700, 18))


def render(out, seed, turn, skew, width=1240, height=1754, size=24, lines=0):
    rnd = random.Random(seed)
    font = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", size)
    page = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(page)
    margin = width // 10
    y = height // 12
    lead = int(size * 1.5)
    count = 0
    while y + lead < height - height // 12 and (lines == 0 or count < lines):
        count += 1
        line, x = [], margin
        limit = width - margin - rnd.randint(0, width // 4)
        while True:
            word = rnd.choice(WORDS)
            if rnd.random() < 0.08:
                word = word.capitalize()
            w = draw.textlength(word + " ", font=font)
            if x + w > limit:
                break
            line.append(word)
            x += w
        draw.text((margin, y), " ".join(line) + ("." if rnd.random() < 0.5 else ","), font=font, fill=0)
        y += lead
        if rnd.random() < 0.12:
            y += lead  # paragraph break
    if skew:
        page = page.rotate(skew, resample=Image.BILINEAR, fillcolor=255)
    if turn:
        page = page.rotate(turn, expand=True)
    page.save(out)


def main():
    if sys.argv[1] == "--set":
        for i in range(10):
            w, h, size = SIZES[i % len(SIZES)]
            for turn in (0, 90, 180, 270):
                render("%s/p%d_%d.pgm" % (sys.argv[2], i, turn), 100 + i, turn,
                       SKEWS[(i + turn // 90) % len(SKEWS)], w, h, size)
        return
    args = [int(a) for a in sys.argv[5:]]
    render(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), *args)


if __name__ == "__main__":
    main()
