#!/usr/bin/python3
"""Writes the seed corpus of fuzz_dispatch into corpus/ (one file per case).

A fuzz input is one or more terminal messages separated by SEPARATOR; a
message that is exactly DISCONNECT stands for a terminal disconnecting.
Run it again after adding a case; findings of the fuzzer are kept beside
these as crash-*/regress-* files and are not rewritten here.
"""
import json
import os

SEPARATOR = b"\n\x00\n"
DISCONNECT = b"\x00disconnect"
here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus")


def msg(path, content=None, **extra):
    body = {"path": path}
    if content is not None:
        body["content"] = content
    body.update(extra)
    return json.dumps(body, ensure_ascii=False).encode()


def line(i, receipt="r-1", **over):
    value = {
        "uuid": f"line-{i}",
        "menu_name": "Капучино 0,3 л",
        "quantity": 2,
        "menu_price": 18900,
        "discount_amount": 500,
        "discount_receipt": 100,
        "total": 37800,
        "receipt_uuid": receipt,
        "receipt_item_recipe_changes": [{"nomenclature": "Сироп", "quantity": 1}],
    }
    value.update(over)
    return value


order = {"to_payment": 37800, "discount": 1000, "discount_percent": 0.05}
guest = {"uuid": "g-1", "client_name": "Анна", "client_lastname": "Смирнова", "discount_name": "Гость",
         "discount_percent": 500, "bonus_count": 12000}
promo = {"uuid": "p-1", "name": "Лето", "is_active": True, "image": "https://example.invalid/1.jpg",
         "is_order_screen": True, "is_queue": False, "start_at": "2024-01-01T00:00:00Z",
         "end_at": "2030-01-01T00:00:00", "schedule": {"monday": [["09:00", "13:00"]], "sunday": [["00:00", "23:59"]]},
         "created_by": 3, "created_at": "2024-01-01T10:00:00+03:00", "updated_at": None, "deleted_at": None,
         "timeout": 5}

cases = {
    # every kind, well formed
    "order": [msg("order", {"receipt_items": [line(1), line(2)], "order": order, "guest": guest})],
    "order-empty": [msg("order", {})],
    "promo": [msg("promo_image", {"promo_images": [promo, dict(promo, uuid="p-2", deleted_at="2024-02-02T00:00:00Z")]})],
    "logo": [msg("app_logo", {"logo": "data:image/png;base64,iVBORw0KGgo="})],
    "payment-card": [msg("payment", {"amount": 37800, "receipt_uuid": "r-1"})],
    "payment-qr": [msg("payment", {"amount": 37800, "receipt_uuid": "r-1",
                                   "qrcode_table": "https://qr.nspk.ru/AS1A003RL5K3O4QJ8UBP7MM4Q25EQNUP?type=02&sum=37800"})],
    "payment-qr-cyrillic": [msg("payment", {"amount": 1, "qrcode_table": "оплата заказа №5"})],
    "payment-finished": [msg("payment", {"is_finished": True})],
    "bonus-replenish": [msg("bonus", {"count": 25, "is_replenisment": True})],
    "bonus-expense": [msg("bonus", {"count": 25})],
    # sequences
    "order-then-payment": [msg("order", {"receipt_items": [line(1), line(2, "r-2")], "order": order, "guest": guest}),
                           msg("payment", {"amount": 100, "receipt_uuid": "r-1", "qrcode_table": "x"}),
                           msg("payment", {"is_finished": True})],
    "order-disconnect-order": [msg("order", {"receipt_items": [line(1)]}), DISCONNECT,
                               msg("order", {"receipt_items": [line(2)], "guest": guest})],
    "promo-disconnect": [msg("promo_image", {"promo_images": [promo]}), DISCONNECT, msg("bonus", {"count": 1})],
    "two-orders": [msg("order", {"receipt_items": [line(i) for i in range(20)]}),
                   msg("order", {"receipt_items": [line(1)]}), msg("bonus", {"count": 3, "is_replenisment": True})],
    # malformed envelopes
    "empty": [b""],
    "not-json": [b"hello, display"],
    "truncated": [msg("order", {"receipt_items": [line(1)]})[:-7]],
    "top-array": [b'[{"path":"order","content":{}}]'],
    "top-string": [b'"order"'],
    "top-number": [b"42"],
    "no-path": [b'{"content":{"logo":"x"}}'],
    "path-number": [b'{"path":5,"content":{}}'],
    "path-null": [b'{"path":null,"content":{}}'],
    "path-upper": [msg("ORDER", {})],
    "path-unknown": [msg("logo", {"logo": "x"})],
    "content-array": [b'{"path":"order","content":[1,2]}'],
    "content-string": [b'{"path":"payment","content":"amount"}'],
    "no-content": [msg("bonus")],
    "duplicate-keys": [b'{"path":"bonus","path":"order","content":{"count":1},"content":{}}'],
    "nul-inside": [b'{"path":"app_logo\x00","content":{"logo":"a\x00b"}}'],
    "bad-utf8": [b'{"path":"app_logo","content":{"logo":"\xff\xfe\xc3"}}'],
    "deep-nesting": [b'{"path":"order","content":{"receipt_items":' + b"[" * 2000 + b"]" * 2000 + b"}}"],
    "deep-open": [b"[" * 5000],
    "huge-number": [b'{"path":"bonus","content":{"count":1e999,"is_replenisment":true}}'],
    # malformed values
    "order-items-object": [msg("order", {"receipt_items": {"0": line(1)}, "order": [], "guest": "Анна"})],
    "order-items-mixed": [msg("order", {"receipt_items": [line(1), 5, None, "x", [], line(2)]})],
    "order-strings-for-numbers": [msg("order", {"receipt_items": [line(1, quantity="2", total="10", menu_price=None)],
                                                "order": {"to_payment": "100", "discount_percent": "5%"},
                                                "guest": {"bonus_count": "7", "client_name": 5}})],
    "order-extreme-numbers": [msg("order", {"receipt_items": [line(1, quantity=1e308, discount_amount=1e308,
                                                                    discount_receipt=-1e308)],
                                            "order": {"to_payment": -1e308}})
                              + b"", msg("payment", {"amount": 2147483648, "receipt_uuid": "r-1"})],
    "recipe-object": [msg("order", {"receipt_items": [line(1, receipt_item_recipe_changes={"a": 1})]})],
    "bonus-fraction": [msg("bonus", {"count": 2.5})],
    "bonus-string": [msg("bonus", {"count": "25", "is_replenisment": "true"})],
    "bonus-negative": [msg("bonus", {"count": -2147483648, "is_replenisment": 1})],
    "logo-number": [msg("app_logo", {"logo": 5})],
    "payment-qr-too-long": [msg("payment", {"amount": 1, "qrcode_table": "A" * 4000})],
    "payment-qr-empty": [msg("payment", {"amount": 1, "qrcode_table": ""})],
    "payment-amount-string": [msg("payment", {"amount": "100", "is_finished": "true", "receipt_uuid": 7})],
    "promo-bad-dates": [msg("promo_image", {"promo_images": [dict(promo, start_at="yesterday", end_at=5,
                                                                  deleted_at="not a date", timeout=5.5,
                                                                  schedule=[])]})],
    "promo-bad-schedule": [msg("promo_image", {"promo_images": [dict(promo, schedule={
        "monday": [["25:00", "99:99"], ["09:00"], "x", [], [1, 2]], "friday": {"a": 1}, "Sunday": [["00:00", "01:00"]]})]})],
    "promo-not-objects": [msg("promo_image", {"promo_images": [1, "x", None, [], {}]})],
    "promo-object": [msg("promo_image", {"promo_images": {"uuid": "p"}})],
    # the forms the log line's writer must get right: escaped text, keys out
    # of order and repeated, numbers Qt keeps as integers or doubles, spacing
    "escaped-ascii": [json.dumps({"path": "order", "content": {"receipt_items": [line(1)], "guest": guest}},
                                 ensure_ascii=True).encode()],
    "escapes-all": [b'{"path":"app_logo","content":{"logo":"q\\"b\\\\s\\/\\b\\f\\n\\r\\t\\u0000\\ud800\\ud83d\\ude00\x01\x7f"}}'],
    "keys-unsorted": [b'{"path":"bonus","content":{"is_replenisment":true,"count":3,"a":[{"z":1,"y":2}]}}'],
    "keys-repeated": [b'{"path":"bonus","content":{"count":1,"\\u0063ount":2,"count":3}}'],
    "keys-beyond-bmp": ['{"path":"bonus","content":{"\uffff":1,"😀":2,"count":4}}'.encode()],
    "numbers-every-form": [b'{"path":"bonus","content":{"count":1e2,"a":[0,-0,1.,1.0,-0.0,0.05,1e-7,1e17,1e300,'
                           b'9007199254740993,9223372036854775807,9223372036854775808,-9223372036854775809]}}'],
    "spacing": [b' \r\n{ "path" :\t"bonus" , "content" : { "count" : 7 } }\n '],
}


def main():
    os.makedirs(out, exist_ok=True)
    for name, messages in cases.items():
        with open(os.path.join(out, "seed-" + name), "wb") as f:
            f.write(SEPARATOR.join(messages))


if __name__ == "__main__":
    main()
